// MIME composition through the session's data sink: boundaries, the nesting of
// multipart/mixed, alternative (or voice-message) and related, the text and body parts, and
// file parts streamed from disk in large blocks through the transfer encoders.
#include "send/mime_body.h"

#include "base/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "base/base64.h"
#include "base/byte_sink.h"
#include "base/charset.h"
#include "base/encoded_word.h"
#include "base/uucode.h"
#include "send/body_encoding.h"
#include "send/content_types.h"
#include "send/html_to_text.h"
#include "send/sender_session.h"

namespace qarvel {

namespace {

// Bodies and text alternatives go to the sink in pieces of at most this many bytes.
constexpr size_t kBodyPiece = 1024;
// An RFC 2231 name longer than this goes out in sections of about this length, one per line.
constexpr size_t kNameSectionLength = 60;
// Binary files are read in blocks of whole encoder lines (57 bytes make one base64 line of
// 76 characters, 45 bytes one uuencoded line).
constexpr size_t kBase64Block = 57 * 4096;
constexpr size_t kUuBlock = 45 * 4096;

int boundaryCounter = 0;

// One piece through the sink; an empty piece is a success.
int put(SenderSession& s, const char* data, size_t length) {
    if (length == 0) return kSessionOk;
    int r = s.writeData(data, length);
    return r < 1 ? r : kSessionOk;
}

int put(SenderSession& s, const std::string& text) { return put(s, text.data(), text.size()); }

// A composed header line, through the session's header writer whatever its length.
int headerLine(SenderSession& s, const std::string& line) { return s.writeHeaderLine(line); }

// "\r\n--" boundary (suffix) "\r\n" as one piece.
int delimiter(SenderSession& s, const String& boundary, const char* suffix) {
    std::string line = "\r\n--";
    line += boundary.view();
    line += suffix;
    return put(s, line);
}

// The header of a nested multipart entity and its first delimiter.
int openMultipart(SenderSession& s, const char* kind, const String& boundary) {
    int r = s.writeHeader("Content-Type: multipart/%s; boundary=\"%s\"\r\n", kind, boundary.c_str());
    if (r < 1) return r;
    if ((r = put(s, "\r\n", 2)) < 1) return r;
    return delimiter(s, boundary, "\r\n");
}

// The transfer-encoding line of the text alternative and the body part.
int textEncodingLine(SenderSession& s, std::string_view text) {
    if (s.style().quotedPrintable) return s.writeHeaderLine("Content-Transfer-Encoding: quoted-printable\r\n");
    return s.writeHeader("Content-Transfer-Encoding: %s\r\n", unencodedLabel(s.style().eightBit, text));
}

// Text as it is, in pieces (the sink stuffs the dots).
int writePlainText(SenderSession& s, const char* data, size_t length, bool countProgress) {
    for (size_t k = 0; k < length; k += kBodyPiece) {
        size_t piece = std::min(kBodyPiece, length - k);
        int r = put(s, data + k, piece);
        if (r < 1) return r;
        if (countProgress) s.addProgress(static_cast<uint32_t>(piece));
    }
    return kSessionOk;
}

int writeText(SenderSession& s, const char* data, size_t length, bool countProgress) {
    if (s.style().quotedPrintable) return writeQuotedPrintable(s, data, length, false, countProgress);
    return writePlainText(s, data, length, countProgress);
}

// A file opened for streaming: refuses anything but a regular file (a directory, a FIFO or a
// device would block or fail half-way), and closes itself.
class InputFile {
public:
    explicit InputFile(const String& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        struct stat st;
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            error_ = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            close();
            return;
        }
        int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
        ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    ~InputFile() { close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int error() const { return error_; }

    // Fills up to length bytes; returns the count (short only at the end of the file), or -1
    // on a read error.
    ssize_t readFull(char* buffer, size_t length) {
        size_t got = 0;
        while (got < length) {
            ssize_t n = ::read(fd_, buffer + got, length - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error_ = errno;
                return -1;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(got);
    }

private:
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd_ = -1;
    int error_ = 0;
};

void warnUnreadable(const String& path, int error) {
    std::fprintf(stderr, "WARNING: attachment '%s' cannot be read! (%d)\n", path.c_str(), error);
}

void warnCutShort(const String& path, int error) {
    std::fprintf(stderr, "WARNING: attachment '%s' could not be read to its end! (%d)\n",
                 path.c_str(), error);
}

// After each piece of a file: the counters grow with the file bytes consumed, and progress
// is reported when a total is expected.
void countFileBytes(SenderSession& s, size_t bytes) {
    s.addProgress(static_cast<uint32_t>(bytes));
    s.reportProgressNow();
}

// A text file in chunks of the command buffer's size; with quoted-printable each chunk is
// encoded on its own (a line cut at a chunk's end is carried into the next chunk).
int streamTextFile(SenderSession& s, InputFile& file, const String& path, bool quoted) {
    size_t size = std::max<size_t>(s.bufferSize(), 64);
    std::vector<char> buffer(size);
    size_t carry = 0;
    for (;;) {
        ssize_t n = file.readFull(buffer.data() + carry, size - carry);
        if (n < 0) {
            warnCutShort(path, file.error());
            n = 0;
        }
        size_t have = carry + static_cast<size_t>(n);
        bool last = static_cast<size_t>(n) < size - carry;
        if (have == 0) return kSessionOk;
        int r;
        if (!quoted) {
            r = put(s, buffer.data(), have);
            if (r < 1) return r;
            countFileBytes(s, have);
            carry = 0;
        } else {
            // Encode up to the last line end; the rest of the line waits for the next chunk,
            // unless the chunk holds no line end at all.
            size_t upTo = have;
            if (!last) {
                const void* lf = memrchr(buffer.data(), '\n', have);
                if (lf) upTo = static_cast<size_t>(static_cast<const char*>(lf) - buffer.data()) + 1;
                else if (have > 1 && buffer[have - 1] == '\r') upTo = have - 1;  // keep CR LF whole
            }
            r = writeQuotedPrintable(s, buffer.data(), upTo, !last, false);
            if (r < 1) return r;
            countFileBytes(s, upTo);
            carry = have - upTo;
            if (carry) std::memmove(buffer.data(), buffer.data() + upTo, carry);
        }
        if (last) {
            if (carry) {
                r = writeQuotedPrintable(s, buffer.data(), carry, false, false);
                if (r < 1) return r;
                countFileBytes(s, carry);
            }
            return kSessionOk;
        }
    }
}

// A binary file, base64 in lines of 76 characters or uuencoded under its base name, read in
// large blocks and pushed through one encoder into the data sink.
int streamBinaryFile(SenderSession& s, InputFile& file, const String& path, const std::string& name,
                     bool uuencode) {
    size_t block = uuencode ? kUuBlock : kBase64Block;
    std::vector<char> in(block);
    SessionSink sink(s, uuencode);
    Base64Encoder base64(sink, 76);
    std::unique_ptr<UuEncoder> uu;
    if (uuencode) uu = std::make_unique<UuEncoder>(sink, String(name));
    for (;;) {
        ssize_t n = file.readFull(in.data(), block);
        if (n < 0) {
            warnCutShort(path, file.error());
            break;
        }
        if (n == 0) break;
        if (uu) uu->encode(in.data(), static_cast<size_t>(n));
        else base64.put(in.data(), static_cast<size_t>(n));
        if (sink.result() < 1) return sink.result();
        countFileBytes(s, static_cast<size_t>(n));
        if (static_cast<size_t>(n) < block) break;
    }
    if (uu) uu->end();
    else base64.finish();
    return sink.result();
}

// The base name of a path (after the last '/' or '\'), control bytes replaced by '_'.
std::string baseName(const String& path) {
    std::string name = outsideFileName(path).str();
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = '_';
    return name;
}

// Header text from outside (a reference) with its control bytes removed, so it cannot break
// the header line it is written into.
std::string headerSafe(std::string_view text) {
    std::string r;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 32 && c != 127) r += c;
    return r;
}

int64_t fileSize(const String& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    return static_cast<int64_t>(st.st_size);
}

} // namespace

String makeBoundary() {
    char text[96];
    std::snprintf(text, sizeof text, "NEXT_PART_%d_%ld_%ld_%ld", ++boundaryCounter,
                  static_cast<long>(std::time(nullptr)), static_cast<long>(std::clock()),
                  static_cast<long>(std::rand()));
    return String(text);
}

String partFileName(const String& path, const String& charset) {
    std::string name = baseName(path);
    if (!isAscii(name)) name = encodeWord(charset, true, String(name), false).str();
    std::string quoted;
    for (char c : name) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return String(quoted);
}

std::vector<std::string> fileNameParameters(const String& path, const String& charset) {
    const std::string name = baseName(path);
    if (isAscii(name)) return {"filename=\"" + partFileName(path, charset).str() + "\""};
    // RFC 2231: the charset, an empty language, then every byte that is not an attribute
    // character as %XX; a long value goes in numbered sections, one per line.
    static const char kHex[] = "0123456789ABCDEF";
    std::string value = charset.str() + "''";
    std::vector<std::string> pieces;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char u = static_cast<unsigned char>(name[i]);
        if (u < 128 && (std::isalnum(u) || (u && std::strchr("!#$&+-.^_`|~", name[i])))) {
            value += name[i];
        } else {
            value += '%';
            value += kHex[u >> 4];
            value += kHex[u & 15];
        }
        // Cut between characters only, never inside a UTF-8 sequence.
        const bool continues = i + 1 < name.size() && (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80;
        if (value.size() >= kNameSectionLength && !continues) {
            pieces.push_back(std::move(value));
            value.clear();
        }
    }
    if (!value.empty()) pieces.push_back(std::move(value));
    if (pieces.size() == 1) return {"filename*=" + pieces[0]};
    std::vector<std::string> sections;
    for (size_t k = 0; k < pieces.size(); ++k)
        sections.push_back("filename*" + std::to_string(k) + "*=" + pieces[k] + (k + 1 < pieces.size() ? ";" : ""));
    return sections;
}

int writeFilePart(SenderSession& s, const String& boundary, const String& path,
                  const String& reference) {
    InputFile file(path);
    if (!file.isOpen()) {
        warnUnreadable(path, file.error());
        return 0;
    }
    FileContentType type = contentTypeForPath(path, s.style().textAttachments, s.style().binaryAttachments);
    bool isText = !type.binary && std::strncmp(type.type, "text/", 5) == 0;
    int r;
    if ((r = delimiter(s, boundary, "\r\n")) < 1) return r;

    const String charset = s.textCharset(baseName(path));
    String name = partFileName(path, charset);
    if (s.style().partHeader && !reference.empty()) {
        if ((r = s.writeHeaderBlock(reference.view())) < 1) return r;
    } else {
        std::string line = std::string("Content-Type: ") + type.type + "; name=\"" + name.c_str() + "\"" +
                           (type.binary ? "; type=Binary" : "") + "\r\n";
        if ((r = headerLine(s, line)) < 1) return r;
        if (!reference.empty()) {
            if (reference.startsWithIgnoreCase("cid:", 4))
                line = "Content-ID: <" + headerSafe(reference.view().substr(4)) + ">\r\n";
            else
                line = "Content-Location: " + headerSafe(reference.view()) + "\r\n";
            if ((r = headerLine(s, line)) < 1) return r;
        }
        line = std::string("Content-Disposition: ") +
               (s.style().inlineAttachments || !reference.empty() ? "inline" : "attachment") + ";";
        const std::vector<std::string> parameters = fileNameParameters(path, charset);
        if (parameters.size() == 1) line += " " + parameters[0];
        if ((r = headerLine(s, line)) < 1) return r;
        for (size_t k = 0; parameters.size() > 1 && k < parameters.size(); ++k)
            if ((r = headerLine(s, "\t" + parameters[k])) < 1) return r;
    }

    bool quoted = false;
    if (!isText) {
        r = s.writeHeaderLine(s.style().uuencode ? "Content-Transfer-Encoding: X-UUencode\r\n"
                                             : "Content-Transfer-Encoding: base64\r\n");
    } else if (s.style().quotedPrintable && !s.style().uuencode && s.style().mime()) {
        quoted = true;
        r = s.writeHeader("Content-Transfer-Encoding: quoted-printable\r\n");
    } else if (s.style().mime()) {
        r = s.writeHeaderLine(s.style().eightBit ? "Content-Transfer-Encoding: 8bit\r\n"
                                             : "Content-Transfer-Encoding: 7bit\r\n");
    }
    if (r < 1) return r;
    if ((r = put(s, "\r\n", 2)) < 1) return r;

    if (isText) r = streamTextFile(s, file, path, quoted);
    else r = streamBinaryFile(s, file, path, baseName(path), s.style().uuencode);
    return r < 1 ? r : kSessionOk;
}

int writeMultipartBody(SenderSession& s, const char* body, size_t length) {
    const std::vector<String>& attachments = s.attachmentFiles();
    const std::vector<String>& attachmentNames = s.attachmentNames();
    const std::vector<String>& related = s.relatedFiles();
    const std::vector<String>& relatedNames = s.relatedNames();
    bool mixed = !attachments.empty();
    bool alternative = s.style().html && s.style().alternative;
    bool voice = !alternative && mixed && s.style().voice;
    bool hasRelated = !related.empty();

    for (const String& f : attachments) s.addExpected(fileSize(f));
    for (const String& f : related) s.addExpected(fileSize(f));

    String mixedBoundary = makeBoundary();
    String secondBoundary = makeBoundary();
    String relatedBoundary = makeBoundary();
    int r;

    if (mixed && (r = openMultipart(s, "mixed", mixedBoundary)) < 1) return r;
    if (alternative && (r = openMultipart(s, "alternative", secondBoundary)) < 1) return r;
    if (voice && (r = openMultipart(s, "voice-message", secondBoundary)) < 1) return r;

    if (body && length > 0) {
        if (alternative) {
            String text = s.style().alternativeText.empty() ? htmlToText(body, length) : s.style().alternativeText;
            if ((r = s.writeHeader("Content-Type: text/plain; charset=%s\r\n",
                                   s.textCharset(text.view()).c_str())) < 1)
                return r;
            if ((r = textEncodingLine(s, text.view())) < 1) return r;
            if ((r = put(s, "\r\n", 2)) < 1) return r;
            if ((r = writeText(s, text.c_str(), text.length(), false)) < 1) return r;
            if ((r = delimiter(s, secondBoundary, "\r\n")) < 1) return r;
        }
        if (hasRelated && (r = openMultipart(s, "related", relatedBoundary)) < 1) return r;

        const String& type = s.style().html ? String("text/html") : s.style().bodyType();
        if ((r = s.writeHeader("Content-Type: %s; charset=%s\r\n", type.c_str(),
                               s.textCharset(std::string_view(body, length)).c_str())) < 1)
            return r;
        if ((r = textEncodingLine(s, std::string_view(body, length))) < 1) return r;
        if ((r = put(s, "\r\n", 2)) < 1) return r;
        if ((r = writeText(s, body, length, true)) < 1) return r;
        s.reportProgressNow();
        if ((r = put(s, "\r\n", 2)) < 1) return r;

        if (hasRelated) {
            for (size_t k = 0; k < related.size(); ++k) {
                r = writeFilePart(s, relatedBoundary, related[k],
                                  k < relatedNames.size() ? relatedNames[k] : String());
                if (r < 0) return r;
            }
            if ((r = delimiter(s, relatedBoundary, "--\r\n")) < 1) return r;
            if ((r = put(s, "\r\n", 2)) < 1) return r;
        }
    }

    if (alternative || voice) {
        if ((r = delimiter(s, secondBoundary, "--\r\n")) < 1) return r;
        if ((r = put(s, "\r\n", 2)) < 1) return r;
    }

    if (mixed) {
        for (size_t k = 0; k < attachments.size(); ++k) {
            r = writeFilePart(s, mixedBoundary, attachments[k],
                              k < attachmentNames.size() ? attachmentNames[k] : String());
            if (r < 0) return r;
        }
        if ((r = delimiter(s, mixedBoundary, "--")) < 1) return r;
        s.reportProgressNow();
    }
    return kSessionOk;
}

} // namespace qarvel
