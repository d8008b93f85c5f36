// The main activity of a run: the settings handed to the chosen sender or reader, then the
// send driver or the receive driver.
#pragma once

#include "base/string.h"
#include "config/settings.h"
#include "net/http_client.h"
#include "receive/file_mailbox_reader.h"
#include "receive/imap_reader.h"
#include "receive/pop3_reader.h"
#include "send/file_sender.h"
#include "send/imap_upload_session.h"
#include "send/metered_sender.h"
#include "send/nntp_session.h"
#include "send/qmtp_session.h"
#include "send/smtp_session.h"

namespace qarvel {

struct ProcessObjects;

// The protocol objects, made once per process; a run uses the sender and the reader its
// settings chose.
struct ProtocolObjects {
    explicit ProtocolObjects(const String& meterFile)
        : smtp(meterFile), qmtp(meterFile), nntp(meterFile), upload(meterFile) {}

    SenderSession& sender(SenderKind kind);
    MailboxReader& reader(ReaderKind kind);

    MeteredSender<SmtpSession> smtp;
    MeteredSender<QmtpSession> qmtp;
    MeteredSender<NntpSession> nntp;
    MeteredSender<ImapUploadSession> upload;
    FileSender fileSender;
    Pop3Reader pop3;
    FileMailboxReader fileReader;
    ImapReader imap;
    HttpClient urlClient{true};  // the -url: downloads with -http11
};

// The alternative-text file, the hand-over to the chosen sender, the alias and list files,
// the receive-side recipients and the default domain.
void prepareActivity(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols);

// Reading is wanted with a user name (or a certificate at security level 2, or an
// authenticated web session), unless the run uploads, imports or has a sender address.
bool readingWanted(const Settings& s);

// prepareActivity, then the receive driver or the send driver; returns the exit code.
int runMainActivity(Settings& s, ProcessObjects& objects, ProtocolObjects& protocols);

} // namespace qarvel
