// The protocol objects the entry creates once per process, the two selectors a run uses, and
// the process-wide working folder and configuration file name.
#pragma once

#include <vector>

#include "base/string.h"

namespace qarvel {

class SenderSession;
class MailboxReader;
class SmtpSession;
class QmtpSession;
class NntpSession;
class FileSender;
class Pop3Reader;
class FileMailboxReader;

// An attachment named by -a:, A, P or I, handed to the sender that the run ends up using
// (so "-a:file -mf" and "-mf -a:file" compose the same message). related: 0 an attachment,
// 1 an inline part (I), 2 a related part (P).
struct PendingAttachment {
    String path, name;
    int related = 0;
};

struct ProcessObjects {
    SmtpSession* smtp = nullptr;
    QmtpSession* qmtp = nullptr;
    NntpSession* nntp = nullptr;
    SenderSession* upload = nullptr;    // the ImapUploadSession
    FileSender* fileSender = nullptr;
    Pop3Reader* pop3 = nullptr;
    FileMailboxReader* fileReader = nullptr;
    MailboxReader* imap = nullptr;      // the ImapReader
    SenderSession* currentSender = nullptr;
    MailboxReader* currentReader = nullptr;
    String workingFolder = "/tmp";
    String configFile = "qarvel.txt";
    int configRequested = 0;
    String meterFile;
    std::vector<PendingAttachment> attachments;
    // The voice-message switch of the VPIM and NOVPIM keys for the run's sender; -1 unset.
    int voice = -1;
};

ProcessObjects& processObjects();

// The option and key that choose a protocol object make it current; an object this build
// does not have (null) leaves the choice as it was.
inline void selectSender(ProcessObjects& objects, SenderSession* sender) {
    if (sender) objects.currentSender = sender;
}
inline void selectReader(ProcessObjects& objects, MailboxReader* reader) {
    if (reader) objects.currentReader = reader;
}

} // namespace qarvel

namespace qarvel {

// Queues an attachment for the run's sender when the file exists. A missing file gives
// "WARNING: attachment 'NAME' does not exist! (ERRNO)" (related 0, counted in missing) or
// "WARNING: include 'NAME' does not exist! (ERRNO)" (related parts, not counted) on standard
// error. Returns 1 when queued.
int queueAttachment(ProcessObjects& objects, const String& path, const String& name, int related,
                    int& missing);

struct Settings;

// Fetches the URL setting (-url:, URL) with the HTTP client and queues the download as an
// attachment; a failed download is reported on standard error and counted as missing
// (src/config/url_download.cpp).
void queueUrl(Settings& settings, ProcessObjects& objects);

} // namespace qarvel
