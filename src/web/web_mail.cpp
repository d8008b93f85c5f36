// The web-mail site as the entry runs it, before and after the receive run.
#include "web/web_mail.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "config/labels.h"
#include "config/process.h"
#include "config/settings.h"
#include "receive/mailbox_reader.h"
#include "receive/receive_driver.h"
#include "send/send_driver.h"
#include "web/cgi_request.h"
#include "web/form_reader.h"
#include "web/web_mail_pages.h"
#include "web/web_pages.h"
#include "web/web_routines.h"

namespace qarvel {

namespace {

// While it lives, every text written to standard error still goes there at once, in order,
// and a copy is kept for the page (text()). The C library lets the stderr stream be replaced;
// the copy is a stream of our own that writes through to the one it replaced.
class ErrorCopy {
public:
    ErrorCopy() : saved_(stderr) {
        std::fflush(saved_);
        const cookie_io_functions_t io{nullptr, &ErrorCopy::write, nullptr, nullptr};
        if (FILE* copy = fopencookie(this, "w", io)) {
            std::setvbuf(copy, nullptr, _IONBF, 0);
            stderr = copy;
        }
    }
    ~ErrorCopy() { restore(); }
    ErrorCopy(const ErrorCopy&) = delete;
    ErrorCopy& operator=(const ErrorCopy&) = delete;

    // What was written, once the copying has ended.
    const std::string& text() {
        restore();
        return text_;
    }

private:
    static ssize_t write(void* cookie, const char* data, size_t length) {
        ErrorCopy& self = *static_cast<ErrorCopy*>(cookie);
        self.text_.append(data, length);
        std::fwrite(data, 1, length, self.saved_);
        std::fflush(self.saved_);
        return static_cast<ssize_t>(length);
    }
    void restore() {
        if (stderr == saved_) return;
        FILE* copy = stderr;
        stderr = saved_;
        std::fclose(copy);
    }
    FILE* saved_;
    std::string text_;
};

PageSession pageSession(const Settings& s, const ProcessObjects& objects, const CgiRequest& request) {
    PageSession p;
    p.script = s.web.scripts;
    p.host = s.receive.imap ? s.servers.imapHost : s.servers.pop3Host;
    p.mbox = s.receive.mailbox;
    p.user = s.receive.user;
    p.password = s.receive.password;
    p.imap = s.receive.imap;
    p.auth = s.web.authenticatedCgi;
    p.config = request.configRead || objects.configRequested;
    p.title = s.web.title;
    p.pageHeader = s.web.pageHeader;
    p.trailer = s.web.trailer;
    p.font = s.web.font;
    p.background = s.web.background;
    p.textColor = s.web.textColor;
    p.bgColor = s.web.backgroundColor;
    p.labels = labels();
    return p;
}

} // namespace

int readCgiBody(Settings& s, ProcessObjects& objects) {
    CgiRequest& request = cgiRequest();
    int result = kFormOk;
    if (request.upload) result = readMultipart(stdin, 0, objects.workingFolder, request);
    if (result == kFormOk) result = readForm(stdin, s, objects, request);
    if (result == kFormOk) return 1;
    request.release();
    writeRefusal(stdout, result, request.uploadLimit);
    return 0;
}

int runWebReceive(Settings& s, ProcessObjects& objects, ReceiveOptions options, MailboxReader& reader,
                  SenderSession* sender) {
    CgiRequest& request = cgiRequest();
    if (s.web.authenticatedCgi) {
        const int ended = writeAuthReply(stdout, std::getenv("AUTH_TYPE"), std::getenv("HTTP_AUTHORIZATION"),
                                         request.logout != 0, s.receive.user, s.receive.password);
        if (ended >= 0) return ended;
        options.receive.user = s.receive.user;
        options.receive.password = s.receive.password;
    }
    const PageSession session = pageSession(s, objects, request);
    WebMailPages pages(session, request, objects.workingFolder, s.receive.brief, s.receive.remove, s.receive.showSize);
    if (request.getFile.empty()) {
        std::fputs("\r\n", stdout);
        writeReceivePageHead(stdout, session, s.receive.remove, s.receive.brief);
        writeToolBar(stdout, session, time(nullptr));
    }
    std::fflush(stdout);
    options.pages = &pages;
    // The plain alternative of a message is the one shown; the extraction folder is the
    // page's own.
    options.content.html = false;
    reader.setHtml(0);
    ErrorCopy errors;
    const int code = runReceive(options, reader, sender);
    std::fflush(stdout);
    pages.finish(errors.text());
    std::fflush(stdout);
    return code;
}

int runWebSend(Settings& s, std::function<void()>& writeHead, const std::function<int()>& driver) {
    CgiRequest& request = cgiRequest();
    bool headWritten = false;
    const PageSession session = pageSession(s, processObjects(), request);
    const bool answer = request.reply || request.forward;
    writeHead = [&]() {
        headWritten = true;
        if (!s.web.redirect.empty()) {
            std::printf("%s<meta http-equiv=\"Refresh\" content=\"3;url=%s\"></head><body>", kPageStart,
                        htmlEscape(s.web.redirect).c_str());
        } else if (answer) {
            writePageHead(stdout, session,
                          "<meta http-equiv=\"Refresh\" content=\"3;url=" + sessionLink(session) +
                              "&-html&-br\"><meta http-equiv=\"Pragma\" content=\"no-cache\">",
                          false);
            std::printf("\n%s<table cols=2 width=100%% border=0><tr>\n",
                        s.web.pageHeader.empty() ? "<h2><center>QARVEL Web Mail</center></h2>" : s.web.pageHeader.c_str());
            const time_t now = time(nullptr);
            char date[32] = "";
            std::snprintf(date, sizeof date, "%.24s", ctime(&now));
            std::printf("<td align=left halign=left>%s%s</td>\n", s.web.font.c_str(), htmlEscape(session.host).c_str());
            std::printf("<td align=right halign=right>%s%s</td>\n", s.web.font.c_str(), date);
            std::fputs("</tr></table><hr size=1 width=100%><p>\n"
                       "<!font face=\"Verdana,Arial,Helvetica,sans-serif\" size=2>", stdout);
        }
        // Everything after this tag is shown as text, so no status line can become markup.
        std::fputs("<pre><font color=green><plaintext>", stdout);
        std::fflush(stdout);
    };
    ErrorCopy errors;
    const int code = driver();
    const std::string& messages = errors.text();
    if (!headWritten) std::fputs("\r\n<plaintext>", stdout);
    std::fputs(messages.c_str(), stdout);
    std::fflush(stdout);
    writeHead = nullptr;
    return code;
}

} // namespace qarvel
