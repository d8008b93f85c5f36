// The body of a web request: a url-encoded form or a multipart upload.
#include "web/form_reader.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

#include "base/temp_file.h"
#include "config/process.h"
#include "config/request_modes.h"
#include "config/settings.h"
#include "receive/attachment_file.h"
#include "web/cgi_request.h"
#include "web/web_routines.h"

namespace qarvel {

namespace {

long long contentLengthFromEnvironment() {
    const char* length = std::getenv("CONTENT_LENGTH");
    return length ? std::atoll(length) : 0;
}

void setHosts(Settings& s, const String& host) {
    s.servers.smtpHost = s.servers.pop3Host = s.servers.imapHost = s.servers.nntpHost = host;
}

// A form field bound for a header or a protocol command: no line break gets through.
String headerField(const String& value) { return withoutLineBreaks(value); }

// The fields that url-encoded and multipart forms share; the message text grows in text (one
// buffer for the whole form, so that many fields cost no more than their bytes). Returns false
// for an unknown name.
bool applyCommonField(const String& name, const String& value, Settings& s,
                      std::string& text) {
    const String v = headerField(value);
    if (name.equalsIgnoreCase("qarvel_verbose")) s.tools.verbose = 1;
    else if (name.equalsIgnoreCase("qarvel_news")) enterNewsMode(s);
    else if (name.equalsIgnoreCase("qarvel_html")) s.content.html = true;
    else if (name.equalsIgnoreCase("qarvel_host")) setHosts(s, v);
    else if (name.equalsIgnoreCase("qarvel_from")) s.addresses.from = v;
    else if (name.equalsIgnoreCase("qarvel_replyto")) s.addresses.replyTo = v;
    else if (name.equalsIgnoreCase("qarvel_to")) s.addresses.to = v;
    else if (name.equalsIgnoreCase("qarvel_cc")) s.addresses.cc = v;
    else if (name.equalsIgnoreCase("qarvel_bcc")) s.addresses.bcc = v;
    else if (name.equalsIgnoreCase("qarvel_subject")) s.content.subject = v;
    else if (name.equalsIgnoreCase("qarvel_user")) s.receive.user = v;
    else if (name.equalsIgnoreCase("qarvel_pass")) s.receive.password = v;
    else if (name.equalsIgnoreCase("qarvel_data")) text += value.view();
    else return false;
    return true;
}

// Reads the body of a multipart form piece by piece: lines for the part headers, and data
// up to the next delimiter for the values, never more than the content length.
class MultipartSource {
public:
    MultipartSource(FILE* in, long long length) : in_(in), remaining_(length) {}

    // One line without its CR LF, at most limit bytes kept; false at the end of the body.
    bool readLine(std::string& line, size_t limit) {
        line.clear();
        for (;;) {
            if (pos_ == buffer_.size() && !fill()) return !line.empty();
            const char c = buffer_[pos_++];
            if (c == '\n') break;
            if (line.size() < limit) line += c;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

    // Passes the bytes up to the delimiter to sink (in pieces) and consumes the delimiter.
    // Returns false when the body ends first or the sink refuses.
    template <typename Sink>
    bool readUntil(const std::string& delimiter, Sink sink) {
        for (;;) {
            const size_t found = std::string_view(buffer_).find(delimiter, pos_);
            if (found != std::string::npos) {
                if (!sink(buffer_.data() + pos_, found - pos_)) return false;
                pos_ = found + delimiter.size();
                return true;
            }
            // Keep the tail that could be the start of a delimiter.
            const size_t keep = std::min(buffer_.size() - pos_, delimiter.size() - 1);
            const size_t ready = buffer_.size() - pos_ - keep;
            if (ready && !sink(buffer_.data() + pos_, ready)) return false;
            pos_ += ready;
            if (!fill()) return false;
        }
    }

private:
    bool fill() {
        if (remaining_ <= 0) return false;
        buffer_.erase(0, pos_);
        pos_ = 0;
        char chunk[65536];
        const size_t want = static_cast<size_t>(std::min<long long>(remaining_, sizeof chunk));
        const size_t got = std::fread(chunk, 1, want, in_);
        if (got == 0) {
            remaining_ = 0;
            return false;
        }
        remaining_ -= static_cast<long long>(got);
        buffer_.append(chunk, got);
        return true;
    }

    FILE* in_;
    long long remaining_;
    std::string buffer_;
    size_t pos_ = 0;
};

// The text of a parameter (name="..." or filename="...") in a Content-Disposition line.
bool dispositionParameter(const std::string& line, const char* parameter, std::string& value) {
    const std::string key = std::string(parameter) + "=\"";
    size_t at = 0;
    while ((at = line.find(key, at)) != std::string::npos) {
        // "name=" must not be read inside "filename=".
        if (at == 0 || line[at - 1] == ' ' || line[at - 1] == ';') break;
        at += key.size();
    }
    if (at == std::string::npos) return false;
    const size_t start = at + key.size();
    const size_t end = line.find('"', start);
    if (end == std::string::npos) return false;
    value = line.substr(start, end - start);
    return true;
}

} // namespace

int readMultipart(FILE* in, long long contentLength, const String& folder, CgiRequest& request) {
    if (contentLength <= 0) contentLength = contentLengthFromEnvironment();
    if (contentLength > request.uploadLimit) return kFormTooLarge;
    MultipartSource source(in, contentLength);
    std::string first;
    if (!source.readLine(first, 128) || first.size() < 3 || first.compare(0, 2, "--") != 0)
        return kFormMalformed;
    const std::string delimiter = "\r\n" + first;
    for (;;) {
        std::string line, name, fileName, type;
        bool disposition = false;
        while (source.readLine(line, 1023) && !line.empty()) {
            if (strncasecmp(line.c_str(), "Content-Disposition:", 20) == 0) {
                disposition = dispositionParameter(line, "name", name);
                if (disposition && name.size() > 64) name.resize(64);
                dispositionParameter(line, "filename", fileName);
            } else if (strncasecmp(line.c_str(), "Content-Type:", 13) == 0) {
                type = line.substr(line.find_first_not_of(" \t", 13) == std::string::npos ? line.size()
                                                                                    : line.find_first_not_of(" \t", 13));
                if (type.size() > 128) type.resize(128);
            }
        }
        if (!disposition) return kFormMalformed;
        const bool isFile = line.empty() && !fileName.empty() && request.uploadPath.empty();
        if (isFile) {
            // The upload keeps its own name (the attachment is called so), in a folder of its
            // own that no other request shares.
            const std::string place = makeTempFolder(folder, "qarvel-upload-");
            if (place.empty()) return kFormMalformed;
            request.uploadFolder = String(place);
            String safe = attachmentFileName(String(fileName));
            if (safe.empty() || safe.length() > 248) safe = ".uploaded_file";
            const std::string path = place + "/" + safe.str();
            FILE* out = std::fopen(path.c_str(), "wbx");
            const bool whole = out && source.readUntil(delimiter, [out](const char* data, size_t length) {
                return std::fwrite(data, 1, length, out) == length;
            });
            const bool closed = out && std::fclose(out) == 0;
            if (!whole || !closed) {
                std::remove(path.c_str());
                rmdir(place.c_str());
                request.uploadFolder = String();
                return kFormMalformed;
            }
            request.uploadPath = String(path);
            request.uploadName = safe;
            request.form.add(String(name), request.uploadPath);
            request.form.add("qarvel_filename", request.uploadPath);
            request.form.add("qarvel_mimetype", String(type));
        } else {
            std::string value;
            // A part with an empty file name (no file chosen) is passed over; so is a second
            // file, as one upload is all a form sends.
            const bool keep = fileName.empty();
            if (!source.readUntil(delimiter, [&value, keep](const char* data, size_t length) {
                    if (keep) value.append(data, length);
                    return true;
                }))
                return kFormMalformed;
            if (keep) request.form.add(String(name), String(value));
        }
        std::string rest;
        source.readLine(rest, 128);
        if (rest.compare(0, 2, "--") == 0) return kFormOk;
    }
}

void applyUrlEncoded(const String& body, Settings& s) {
    std::string text = s.content.messageText.str();
    std::string_view rest = body.view();
    while (!rest.empty()) {
        const size_t cut = rest.find('&');
        const std::string_view pair = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        if (pair.empty()) continue;
        const size_t equals = pair.find('=');
        const String name = urlDecode(String(pair.substr(0, std::min<size_t>(equals, 1023))));
        const String value = equals == std::string_view::npos ? String() : urlDecode(String(pair.substr(equals + 1)));
        if (applyCommonField(name, value, s, text)) continue;
        if (name.equalsIgnoreCase("qarvel_mbox")) s.receive.mailbox = headerField(value);
        else if (name.equalsIgnoreCase("qarvel_move")) s.receive.moveTo = headerField(value);
        else if (name.equalsIgnoreCase("qarvel_copy")) s.receive.copyTo = headerField(value);
        else if (name.equalsIgnoreCase("qarvel_create")) s.receive.createMailbox = headerField(value);
        else if (name.equalsIgnoreCase("qarvel_delete")) s.receive.deleteMailbox = headerField(value);
        else if (!name.startsWithIgnoreCase("qarvel_", 7)) {
            // An ordinary form is mailed as lines of name and value.
            text += urlDecode(String(pair)).view();
            text += "\r\n";
        }
    }
    s.content.messageText = String(text);
}

int readForm(FILE* in, Settings& s, ProcessObjects& objects, CgiRequest& request, FILE* out) {
    if (request.upload) {
        std::fputs("\r\n", out);
        const FormStore& form = request.form;
        std::string text = s.content.messageText.str();
        for (const char* field : {"qarvel_verbose", "qarvel_html", "qarvel_subject", "qarvel_from",
                                  "qarvel_replyto", "qarvel_to", "qarvel_news", "qarvel_cc",
                                  "qarvel_bcc", "qarvel_host", "qarvel_user", "qarvel_pass", "qarvel_data"})
            if (const String* value = form.value(field)) applyCommonField(field, *value, s, text);
        if (!request.uploadPath.empty() && form.has("qarvel_inline")) {
            std::ifstream file(request.uploadPath.c_str(), std::ios::binary);
            text += "\r\n\r\n";
            std::string line;
            while (file && std::getline(file, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                text.append(line, 0, 1023);
                text += "\r\n";
            }
        }
        s.content.messageText = String(text);
        if (request.uploadPath.empty() || form.has("qarvel_inline")) return kFormOk;
        if (queueAttachment(objects, request.uploadPath, request.uploadName, 0, s.content.missingAttachments))
            s.content.attachments.add(request.uploadPath);
        return kFormOk;
    }
    if (!request.post) return kFormOk;
    const long long length = contentLengthFromEnvironment();
    if (length <= 0) return kFormOk;
    if (length > request.uploadLimit) return kFormTooLarge;
    std::string body(static_cast<size_t>(length), '\0');
    body.resize(std::fread(body.data(), 1, body.size(), in));
    applyUrlEncoded(String(body), s);
    return kFormOk;
}

void writeRefusal(FILE* out, int result, long long limit) {
    if (result == kFormTooLarge) {
        std::fprintf(out,
                     "Status: 413 REQUEST ENTITY TOO LARGE\r\n\r\n<html><head><title>Upload refused</title></head>"
                     "<body><h2>Upload refused</h2><p>The request is larger than %lld bytes.</p></body></html>\n",
                     limit);
    } else {
        std::fputs("Status: 400 BAD REQUEST\r\n\r\n<html><head><title>Upload refused</title></head>"
                   "<body><h2>Upload refused</h2><p>The form data could not be read.</p></body></html>\n",
                   out);
    }
}

} // namespace qarvel
