// The protocol objects the entry creates once per process, the two selectors a run uses, and
// the process-wide working folder and configuration file name.
#pragma once

#include "base/string.h"

namespace qarvel {

class SenderSession;
class MailboxReader;
class SmtpSession;
class QmtpSession;
class FileSender;
class Pop3Reader;
class FileMailboxReader;

struct ProcessObjects {
    SmtpSession* smtp = nullptr;
    QmtpSession* qmtp = nullptr;
    SenderSession* nntp = nullptr;      // no news sender yet
    SenderSession* upload = nullptr;    // no IMAP upload session yet
    FileSender* fileSender = nullptr;
    Pop3Reader* pop3 = nullptr;
    FileMailboxReader* fileReader = nullptr;
    MailboxReader* imap = nullptr;      // no IMAP reader yet
    SenderSession* currentSender = nullptr;
    MailboxReader* currentReader = nullptr;
    String workingFolder = "/tmp";
    String configFile = "qarvel.txt";
    int configRequested = 0;
};

ProcessObjects& processObjects();

} // namespace qarvel
