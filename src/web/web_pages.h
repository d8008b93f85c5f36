// The pieces of the web-mail pages: the session link that carries the whole session in every
// link and form, the Basic-authentication replies, the page head, the tool bar, the message
// rows and pages, the compose form and the trailer. Every text that came from a message or a
// request is HTML-escaped here; the configuration's page template texts are written as the
// site wrote them.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "base/string.h"
#include "config/labels.h"
#include "receive/header_display.h"

namespace qarvel {

// What every page needs to know of the session and the site.
struct PageSession {
    String script = "/cgi-bin/qarvel";
    String host, mbox, user, password;
    int imap = 0, auth = 0, config = 0;
    String title, pageHeader, trailer, font, background, textColor, bgColor;
    Labels labels;
};

// script "/?-cgi:" "-host:" host [afterHost] ["&-config"] ["&-imap" ["&-mbox:" folder]]
// ("&-auth" | "&-user:" user "&-pass:" password), the values URL-encoded.
std::string sessionLink(const PageSession& session, const char* afterHost = "");

// The two hidden credential fields (none under Basic authentication).
std::string hiddenFields(const PageSession& session);

// A button: a form posting to the session link with the operation's options.
std::string buttonForm(const PageSession& session, const std::string& options, const String& label,
                       const char* afterHost = "");

// The Basic-authentication step: -1 when the run goes on (user and password then hold the
// credentials), else the exit code after one of the four Status replies was written.
int writeAuthReply(FILE* out, const char* authType, const char* authorization, bool logout,
                   String& user, String& password);

// "<html><head>" and the tag that declares the page UTF-8, which every page starts with; every
// text a page shows is UTF-8.
extern const char kPageStart[];

// The head of a page, the one writer for all of them: kPageStart, the given head tags, the
// title, "</head>", the body tag with the colours of the site, "<basefont size=2>" when asked,
// and the font text. The caller goes on with the page header.
void writePageHead(FILE* out, const PageSession& session, const std::string& headTags, bool baseFont);

// The head of a receive page: with the refresh (after a delete) or no-cache (list) tag, the
// base font, and the page header.
void writeReceivePageHead(FILE* out, const PageSession& session, bool afterDelete, bool list);

// A body: HTML bodies as their text, every body escaped inside <pre>.

// The user, the Purge and Compose buttons and the local time; then the rule.
void writeToolBar(FILE* out, const PageSession& session, time_t now);

// The header lines of a message: all of them on a message page, the brief set in a list.
void writeHeaderLines(FILE* out, const PageSession& session, const DisplayedHeaders& headers,
                      bool brief, bool deleted, bool showSize);

// The text is converted from its charset (empty: UTF-8, else read as Windows-1252) to UTF-8.
void writeBody(FILE* out, const String& mediaType, const String& charset, const char* body, size_t length);

// One attachment line with its download link.
void writeAttachmentLink(FILE* out, const PageSession& session, const String& name, unsigned long long size);

// The View (list only), Reply, Forward and Delete/Undelete buttons of message n.
void writeMessageButtons(FILE* out, const PageSession& session, int n, bool list, bool deleted);

enum class ComposeMode { kCompose, kReply, kForward };

// The compose, reply or forward form; subject, to and text are the message's (unescaped).
void writeComposeForm(FILE* out, const PageSession& session, ComposeMode mode, const String& subject,
                      const String& from, const String& to, const String& sender, const String& text);

// The closing rule, the version line, the site trailer and the end of the page.
void writeTrailer(FILE* out, const PageSession& session);

} // namespace qarvel
