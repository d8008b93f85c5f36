// The pages of one receive run of the web-mail site.
#include "web/web_mail_pages.h"

#include <cerrno>
#include <sys/stat.h>

#include "base/charset.h"
#include "receive/header_display.h"
#include "receive/mailbox_reader.h"
#include "receive/attachment_file.h"
#include "receive/message.h"
#include "web/cgi_request.h"
#include "web/web_routines.h"

namespace qarvel {

WebMailPages::WebMailPages(const PageSession& session, const CgiRequest& request, const String& workingFolder,
                           bool list, bool deleting, bool showSize, FILE* out)
    : session_(session), request_(request), folder_(attachmentFolder(workingFolder, session.user)), list_(list),
      deleting_(deleting), showSize_(showSize), out_(out) {}

bool WebMailPages::serveAfterLogin(MailboxReader&) {
    if (request_.getFile.empty()) return false;
    served_ = true;
    const String& name = request_.getFile;
    FILE* file = nullptr;
    if (isSafeRelativeName(name) && staysInside(folder_, name))
        file = std::fopen((folder_ + "/" + name).c_str(), "rb");
    if (!file) {
        std::fputs("Status: 404 NOT FOUND\r\n\r\n", out_);
        return true;
    }
    std::fputs("\r\n", out_);
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) std::fwrite(buffer, 1, got, out_);
    std::fclose(file);
    std::fflush(out_);
    return true;
}

void WebMailPages::showMailbox(int count, MailboxReader& reader) {
    if (session_.imap) writeFolderBar(count, reader);
    std::fputs("<table border=0 width=100%>\n", out_);
    tableOpen_ = true;
}

void WebMailPages::writeFolderBar(int count, MailboxReader& reader) {
    const String current = session_.mbox.empty() ? String("INBOX") : session_.mbox;
    std::string options;
    if (reader.listFolders("*", 0) > 0) {
        String name;
        while (reader.nextFolderName(name) > 0) {
            options += "<option" + std::string(name == current ? " selected" : "") + ">" +
                       htmlEscape(name).str() + "</option>";
        }
    }
    const std::string link = sessionLink(session_);
    const std::string hidden = hiddenFields(session_);
    std::fprintf(out_, "<center><table border=0 cols=3 width=100%%><tr valign=middle>"
                       "<form method=post action=\"%s&-post&-imap&-br&-html\"><td align=left>%s"
                       "<select name=qarvel_mbox>%s</select>&nbsp;<input type=submit value=\"%s\"></td></form>",
                 link.c_str(), hidden.c_str(), options.c_str(), htmlEscape(session_.labels.folder).c_str());
    std::fprintf(out_, "<td align=center><b><nowrap>%s %d %s (%llu bytes)</nowrap></b></td>",
                 htmlEscape(session_.labels.thereAre).c_str(), count,
                 htmlEscape(session_.labels.messagesWaiting).c_str(),
                 static_cast<unsigned long long>(reader.currentSize()));
    std::fprintf(out_, "<form method=post action=\"%s&-post&-imap&-br&-html\"><td align=right>%s"
                       "<input type=submit value=\"%s\"> <input type=text name=qarvel_create size=15>",
                 link.c_str(), hidden.c_str(), htmlEscape(session_.labels.create).c_str());
    std::fputs("</td></form></tr></table></center></br>\n", out_);
}

String WebMailPages::fromAddress() const {
    if (session_.user.find('@') != String::npos) return session_.user;
    return session_.user + "@" + session_.host;
}

void WebMailPages::saveAttachments(MailboxReader& reader) {
    // The two levels of the user's folder are made when missing.
    mkdir(folder_.directoryPart().c_str(), 0700);
    mkdir(folder_.c_str(), 0700);
    while (MessagePart* part = reader.nextPart()) {
        if (part->fileName.empty() || request_.noAttachments) continue;
        String name = part->fileName;
        if (writeAttachment(folder_, name, *part, writtenAsText(part->contentType, false), false) != kWriteOk) continue;
        writeAttachmentLink(out_, session_, name, part->size());
    }
}

void WebMailPages::showMessage(int counter, int n, MailboxReader& reader) {
    const bool deleted = reader.currentFlags().find("\\Deleted") != String::npos;
    // A delete request goes back to the list after a second; its row is not shown.
    if (deleting_) return;
    if (request_.reply || request_.forward) {
        answered_ = true;
        const String replyTo = reader.replyAddress().empty() ? reader.sender() : reader.replyAddress();
        // The form shows the message's texts in UTF-8, and the browser sends them back so.
        const DisplayedHeaders shown = collectHeaders(reader, false, 0, HeaderForm::kUtf8);
        const std::string text = textAsUtf8(std::string_view(reader.body(), static_cast<size_t>(reader.bodyLength())),
                                            reader.message().bodyCharset.view());
        writeComposeForm(out_, session_, request_.reply ? ComposeMode::kReply : ComposeMode::kForward,
                         shown.subject, fromAddress(), senderAddress(shown.replyTo.empty() ? shown.from : shown.replyTo),
                         shown.from, String(text));
        return;
    }
    const int size = reader.messageSize(n);
    const DisplayedHeaders headers =
        collectHeaders(reader, false, size > 0 ? size : static_cast<long long>(reader.message().bytesRead),
                       HeaderForm::kUtf8);
    std::fprintf(out_, "<tr valign=top><td>%d.&nbsp;</td><td>", counter);
    writeHeaderLines(out_, session_, headers, list_, deleted, showSize_);
    if (!list_) {
        std::fputs("</td></tr><tr valign=top><td colspan=2>", out_);
        writeBody(out_, reader.mediaType(), reader.message().bodyCharset, reader.body(),
                  static_cast<size_t>(reader.bodyLength()));
        saveAttachments(reader);
    }
    writeMessageButtons(out_, session_, n, list_, deleted);
    std::fputs("</td></tr>\n", out_);
}

void WebMailPages::finish(const std::string& messages) {
    if (served_) return;
    if (!request_.getFile.empty()) {
        // The download's header lines are out, the file is not: the header ends with a
        // failure status, and the driver's messages are the body.
        std::fputs("Status: 502 BAD GATEWAY\r\n\r\n", out_);
        std::fputs(htmlEscape(String(messages)).c_str(), out_);
        return;
    }
    if (tableOpen_) std::fputs("</table>\n", out_);
    if (!messages.empty()) {
        String text = htmlEscape(String(messages)).replaced("\n", "<br>\n");
        std::fputs(text.c_str(), out_);
        std::fputs("<br>\n", out_);
    }
    if ((request_.reply || request_.forward) && !answered_)
        writeComposeForm(out_, session_, ComposeMode::kCompose, String(), fromAddress(), String(), String(), String());
    writeTrailer(out_, session_);
}

} // namespace qarvel
