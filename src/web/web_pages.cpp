// The pieces of the web-mail pages: the session link, heads, bars and forms.
#include "web/web_pages.h"

#include <cstring>
#include <strings.h>

#include "base/charset.h"
#include "base/string.h"
#include "send/html_to_text.h"
#include "web/web_routines.h"

namespace qarvel {

namespace {

const char kEmptyPage[] = "<html><head><title>&nbsp;</title></head><body>&nbsp;</body></html>";

std::string escaped(const String& text) { return htmlEscape(text).str(); }

void put(FILE* out, const std::string& text) { std::fwrite(text.data(), 1, text.size(), out); }

} // namespace

std::string sessionLink(const PageSession& s, const char* afterHost) {
    std::string link = s.script.str() + "/?-cgi:-host:" + urlEncode(s.host, false).str() + afterHost;
    if (s.config) link += "&-config";
    if (s.imap) {
        link += "&-imap";
        if (!s.mbox.empty()) link += "&-mbox:" + urlEncode(s.mbox, false).str();
    }
    if (s.auth) link += "&-auth";
    else link += "&-user:" + urlEncode(s.user, false).str() + "&-pass:" + urlEncode(s.password, false).str();
    return link;
}

std::string hiddenFields(const PageSession& s) {
    if (s.auth) return std::string();
    return "<input type=hidden name=qarvel_user value=\"" + escaped(s.user) +
           "\"><input type=hidden name=qarvel_pass value=\"" + escaped(s.password) + "\">";
}

std::string buttonForm(const PageSession& s, const std::string& options, const String& label,
                       const char* afterHost) {
    return "<form method=post action=\"" + sessionLink(s, afterHost) + options + "\">" + hiddenFields(s) +
           "<input type=submit value=\"" + escaped(label) + "\"></form>";
}

int writeAuthReply(FILE* out, const char* authType, const char* authorization, bool logout,
                   String& user, String& password) {
    const char* status = nullptr;
    char word[1024] = "";
    if (authType && strcasecmp(authType, "Basic") != 0) status = "403 UNSUPPORTED AUTHENTICATION TYPE";
    else if (!authorization) status = "401 AUTHORIZATION NEEDED";
    else if (std::sscanf(authorization, "%*s %1023s", word) != 1 || !decodeCredentials(word, user, password))
        status = "400 BAD REQUEST";
    else if (logout) status = "401 ACCESS DENIED";
    if (!status) {
        // The credentials go into protocol commands: no line break passes.
        user = withoutLineBreaks(user);
        password = withoutLineBreaks(password);
        return -1;
    }
    std::fprintf(out, "Status: %s\r\n\r\n%s", status, kEmptyPage);
    return 1;
}

const char kPageStart[] = "<html><head><meta charset=\"utf-8\">";

void writePageHead(FILE* out, const PageSession& s, const std::string& headTags, bool baseFont) {
    put(out, kPageStart + headTags);
    put(out, "<title>" + (s.title.empty() ? std::string("QARVEL Web Mail") : s.title.str()) + "</title></head>");
    put(out, "<body" + s.background.str() + (s.textColor.empty() ? std::string(" text=\"#000000\"") : s.textColor.str()) +
                 (s.bgColor.empty() ? std::string(" bgcolor=\"#ffffff\"") : s.bgColor.str()) + ">" +
                 (baseFont ? "<basefont size=2>" : "") + s.font.str());
}

void writeReceivePageHead(FILE* out, const PageSession& s, bool afterDelete, bool list) {
    std::string tags;
    if (afterDelete) tags = "<meta http-equiv=\"refresh\" content=\"1;url=" + sessionLink(s) + "&-html&-br\">";
    else if (list) tags = "<meta http-equiv=\"pragma\" content=\"no-cache\">";
    writePageHead(out, s, tags, true);
    put(out, s.pageHeader.empty() ? std::string("<h2><center>QARVEL Web Mail</center></h2>") : s.pageHeader.str());
    put(out, "\n");
}

void writeToolBar(FILE* out, const PageSession& s, time_t now) {
    char date[32] = "";
    std::strncpy(date, ctime(&now), 24);
    put(out, "<table cols=4 width=100% border=0><tr>");
    put(out, "<th align=left halign=left>" + escaped(s.user) + "@" + escaped(s.host) + "</th>");
    put(out, "<th align=center halign=center valign=bottom>" +
                 buttonForm(s, "&-post&-purge&-br&-html", s.labels.purge) + "</th>");
    put(out, "<th align=center halign=center valign=bottom>" +
                 buttonForm(s, "&-post&-msg:0&-reply&-html", s.labels.compose, "&-to:") + "</th>");
    put(out, std::string("<th align=right halign=right>") + date + "</th>");
    put(out, "</tr></table><hr size=1 width=100%>\n");
}

void writeHeaderLines(FILE* out, const PageSession& s, const DisplayedHeaders& h, bool brief, bool deleted,
                      bool showSize) {
    const Labels& l = s.labels;
    auto line = [out](const String& label, const std::string& value) {
        put(out, "<b>" + escaped(label) + ": </b>" + value + "<br>\n");
    };
    const std::string subject = escaped(h.subject);
    put(out, "<b>" + escaped(l.subject) + ": </b><font size=+1><i>" +
                 (deleted ? "<strike>" + subject + "</strike>" : subject) + "</font></i><br>\n");
    put(out, "<b>" + escaped(l.date) + ": </b><!font size=+1>" +
                 escaped(h.date.empty() ? String("[unknown]") : h.date) + "</font><br>\n");
    if (!brief) {
        if (!h.receiptTo.empty()) line(l.receiptTo, escaped(h.receiptTo));
        if (!h.importance.empty()) line(l.importance, escaped(h.importance));
        if (!h.sensitivity.empty()) line(l.sensitivity, escaped(h.sensitivity));
        if (!h.organization.empty()) line(l.organization, escaped(h.organization));
    }
    const String from = h.from.empty() ? String("[unknown]") : h.from;
    put(out, "<b>" + escaped(l.from) + ": </b><a href=\"mailto:" + escaped(urlEncode(senderAddress(from), false)) +
                 "\">" + escaped(from) + "</a><br>\n");
    line(l.to, escaped(h.to.empty() ? String("[unknown]") : h.to));
    if (!brief && !h.cc.empty()) line(l.cc, escaped(h.cc));
    if (showSize) line(l.size, std::to_string(h.size) + " bytes");
}

void writeBody(FILE* out, const String& mediaType, const String& charset, const char* body, size_t length) {
    String text(textAsUtf8(std::string_view(body, length), charset.view()));
    // A message's own HTML never reaches the page: it is shown as its text.
    if (mediaType.startsWithIgnoreCase("text/html", 9)) text = htmlToText(text);
    put(out, "<pre>" + escaped(text.replaced("\r\n", "\n")) + "</pre>\n");
}

void writeAttachmentLink(FILE* out, const PageSession& s, const String& name, unsigned long long size) {
    put(out, "<br><b><font color=teal>Attachment: </font></b><a href=\"" + sessionLink(s) + "&-get:" +
                 urlEncode(name, false).str() + "\">" + escaped(name) + " (" + std::to_string(size) +
                 " bytes)</a>\n");
}

void writeMessageButtons(FILE* out, const PageSession& s, int n, bool list, bool deleted) {
    const std::string number = std::to_string(n);
    put(out, "<br clear=all><table border=0><tr><td>");
    if (list) put(out, buttonForm(s, "&-post&-msg:" + number + "&-html&-extract", s.labels.view) + "</td><td>");
    put(out, buttonForm(s, "&-post&-msg:" + number + "&-reply&-html&-extract", s.labels.reply) + "</td><td>");
    put(out, buttonForm(s, "&-post&-msg:" + number + "&-forward&-html&-extract", s.labels.forward) + "</td><td>");
    put(out, buttonForm(s, std::string("&-post") + (deleted ? "&-unrm" : "&-rm") + "&-msg:" + number + "&-br&-html",
                        deleted ? s.labels.undeleteButton : s.labels.deleteButton));
    put(out, "</td></tr></table></p><br><br>\n");
}

void writeComposeForm(FILE* out, const PageSession& s, ComposeMode mode, const String& subject,
                      const String& from, const String& to, const String& sender, const String& text) {
    const bool forward = mode == ComposeMode::kForward;
    put(out, "<form method=post enctype=\"multipart/form-data\" action='" + sessionLink(s) + "&-from:&-upload" +
                 (forward ? "&-forward&-post&-rm'>" : "&-reply&-post&-rm'>") + hiddenFields(s) + "<table border=0>");
    String shownSubject;
    if (mode == ComposeMode::kReply && !subject.empty())
        shownSubject = subject.startsWithIgnoreCase("RE:", 3) ? subject : String("RE: ") + subject;
    else if (forward)
        shownSubject = String("Fwd: ") + subject;
    auto row = [&](const String& label, const char* field, const String& value) {
        put(out, "<tr><td>" + escaped(label) + ":</b></td><td><input type=text size=50 name=" + field + " value=\"" +
                     escaped(value) + "\"></td></tr>");
    };
    row(s.labels.subject, "qarvel_subject", shownSubject);
    row(s.labels.from, "qarvel_from", from);
    row(s.labels.to, "qarvel_to", mode == ComposeMode::kReply ? to : String());
    row(s.labels.cc, "qarvel_cc", String());
    row(s.labels.bcc, "qarvel_bcc", String());
    put(out, std::string("</table><textarea ") + (forward ? "nowrap" : "wrap") + " name=qarvel_data cols=72 rows=10>");
    const String body = htmlEscape(text.replaced("\r\n", "\n"));
    if (mode == ComposeMode::kReply && !subject.empty())
        put(out, escaped(sender) + " " + escaped(s.labels.wrote) + ": \n" + quoteForReply(body).str());
    else if (forward)
        put(out, body.str());
    put(out, "</textarea><p><input type=file name=filename><br><input type=checkbox name=qarvel_inline> " +
                 escaped(s.labels.inlineAttachment) + "<br><input type=submit value=\"" + escaped(s.labels.send) +
                 "\"> <input type=checkbox name=qarvel_verbose> " + escaped(s.labels.trace) +
                 " <input type=checkbox name=qarvel_news> " + escaped(s.labels.newsgroup) + "</form></td><td>\n");
}

void writeTrailer(FILE* out, const PageSession& s) {
    put(out, "<p><hr size=1 width=100%><table cols=2 width=100%><tr>"
             "<th align=left halign=left>Brought to you by <i>QARVEL</i> power</th>"
             "<th align=right halign=right>Version: " __DATE__ "</th></tr></table>");
    put(out, s.trailer.str());
    put(out, "</body></html>\n");
}

} // namespace qarvel
