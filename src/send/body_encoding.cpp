// Encoded text into a session's data sink, for the body writer and the MIME composer.
#include "send/body_encoding.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/base64.h"
#include "base/charset.h"
#include "base/quoted_printable.h"
#include "base/uucode.h"
#include "send/sender_session.h"

namespace qarvel {

namespace {

// Encoded text goes to the sink in pieces of this size; quoted-printable text is encoded in
// chunks that end at a line end found within kQpChunk bytes.
constexpr size_t kBodyPiece = 1024;
constexpr size_t kQpChunk = 4096;

}  // namespace

void SessionSink::write(const char* bytes, size_t count) {
    if (result_ < 1 || count == 0) return;
    std::string line;
    if (crlf_) {
        line.reserve(count + 16);
        for (size_t i = 0; i < count; ++i) {
            if (bytes[i] == '\n') line += '\r';
            line += bytes[i];
        }
        bytes = line.data();
        count = line.size();
    }
    int r = s_.writeData(bytes, count);
    result_ = r < 1 ? r : 1;
    if (result_ == 1) written_ += count;
}

const char* unencodedLabel(bool eightBit, std::string_view text) {
    if (eightBit) return "8bit";
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return "8bit";
    return "7bit";
}

std::string quotedPrintableCrlf(const char* data, size_t length) {
    std::string out = quotedPrintableEncode(data, length, false, false, nullptr, true).str();
    if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
        char blank = out.back();
        out.pop_back();
        out += blank == ' ' ? "=\r\n=20" : "=\r\n=09";
    }
    return out;
}

int writeQuotedPrintable(SenderSession& s, const char* data, size_t length, bool more,
                         bool countProgress) {
    size_t done = 0;
    while (done < length) {
        size_t chunk = std::min(length - done, kQpChunk);
        const char* start = data + done;
        if (done + chunk < length) {
            // End at the last line feed of the chunk, or at the next one close behind it.
            const void* lf = std::memchr(start + chunk, '\n', std::min(length - done - chunk, kQpChunk));
            if (lf) chunk = static_cast<size_t>(static_cast<const char*>(lf) - start) + 1;
        }
        // A chunk that ends inside a line must not split a CR LF pair.
        bool cut = (done + chunk < length || more) && start[chunk - 1] != '\n';
        if (cut && chunk > 1 && start[chunk - 1] == '\r') --chunk;
        std::string encoded = quotedPrintableCrlf(start, chunk);
        if (cut) encoded += "=\r\n";
        for (size_t k = 0; k < encoded.size(); k += kBodyPiece) {
            size_t piece = std::min(kBodyPiece, encoded.size() - k);
            int r = s.writeData(encoded.data() + k, piece);
            if (r < 1) return r;
            if (countProgress) s.addProgress(static_cast<uint32_t>(piece));
        }
        if (countProgress) s.addExpected(static_cast<int64_t>(encoded.size()) - static_cast<int64_t>(chunk));
        done += chunk;
    }
    return kSessionOk;
}

int writeBase64OrUuencoded(SenderSession& s, const char* data, size_t length, bool uuencode,
                           const String& name) {
    SessionSink sink(s, uuencode);
    if (uuencode) {
        UuEncoder encoder(sink, name);
        encoder.encode(data, length);
        encoder.end();
    } else {
        Base64Encoder encoder(sink, 76);
        encoder.put(data, length);
        encoder.finish();
    }
    if (sink.result() < 1) return sink.result();
    s.addProgress(static_cast<uint32_t>(sink.written()));
    s.addExpected(static_cast<int64_t>(sink.written()) - static_cast<int64_t>(length));
    return 1;
}

// The label of a body or header text: both writers and the header lines ask here.
String SenderSession::textCharset(std::string_view text) const {
    if (style_.charsetChosen || isAscii(text) || !isUtf8(text)) return style_.bodyCharset();
    return String("utf-8");
}

}  // namespace qarvel
