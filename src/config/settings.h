// Settings: the one process-wide record of everything a run can be told, filled in layers
// (defaults, configuration file, command line, CGI request), later layers overwriting earlier
// ones field by field, in groups after the tables of the configuration. Strings are empty when
// not set.
#pragma once

#include "base/tool_settings.h"
#include "net/connection_options.h"
#include "net/server_settings.h"
#include "receive/receive_settings.h"
#include "send/send_settings.h"

namespace qarvel {

// The groups are declared in the floors of the drivers that take them whole: a new setting is
// one member of its group there, one row of the field table (settings_fields.cpp) and the
// option or key that sets it.
struct Settings {
    SenderKind sender = SenderKind::kSmtp;
    ReaderKind reader = ReaderKind::kPop3;

    using Servers = ServerSettings;
    using Addresses = AddressSettings;
    using Content = ContentSettings;
    using Smtp = SmtpSettings;
    using Receive = ReceiveSettings;
    using Tools = ToolSettings;

    ServerSettings servers;         // hosts and ports (net/server_settings.h)
    ConnectionOptions connection;   // how sessions connect (net/connection_options.h)
    AddressSettings addresses;      // senders, recipients, list files (send/send_settings.h)
    ContentSettings content;        // the message (send/send_settings.h)
    SmtpSettings smtp;              // sending and posting (send/send_settings.h)
    ReceiveSettings receive;        // reading mail (receive/receive_settings.h)

    // CGI, web pages and URL downloads.
    struct Web {
        bool cgi = false, authenticatedCgi = false, upload = false, http11 = false, post = false;
        String scripts, referer, url, destination, redirect;
        String font, title, pageHeader, trailer, background, textColor, backgroundColor;
    } web;

    ToolSettings tools;             // run control and the tools (base/tool_settings.h)
};

// The initial form (firstTime) gives every string its default (or empties it); the clearing
// form empties every string, defaults included. Both give the numbers, flags and choices their
// initial values and leave the lists and the time-out alone; the discovered DNS server becomes
// "localhost" in both. One table of the fields drives this and the settings dump.
void resetSettings(Settings& s, bool firstTime);

// The process-wide record.
Settings& settings();

// -ssl and the SSL key: the ports of TLS from the first byte (SMTP, POP3, IMAP, NNTP).
void useImplicitTlsPorts(ServerSettings& servers);

} // namespace qarvel
