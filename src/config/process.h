// The process-wide parts of a run that are not settings: the working folder, the configuration
// file name, the meter file and the attachments queued for the run's sender.
#pragma once

#include <vector>

#include "base/string.h"

namespace qarvel {

class HttpClient;

// An attachment named by -a:, A, P or I, handed to the sender that the run ends up using
// (so "-a:file -mf" and "-mf -a:file" compose the same message). related: 0 an attachment,
// 1 an inline part (I), 2 a related part (P).
struct PendingAttachment {
    String path, name;
    int related = 0;
};

constexpr int kConfigNamed = 2;

struct ProcessObjects {
    String workingFolder = "/tmp";
    String configFile = "qarvel.txt";
    int configRequested = 0;  // 1 with -config or a web request's -config, kConfigNamed with -config:FILE
    String meterFile;
    std::vector<PendingAttachment> attachments;
    // The voice-message switch of the VPIM and NOVPIM keys for the run's sender; -1 unset.
    int voice = -1;
    // The HTTP/1.1 client that successive -url: downloads share, so that downloads from one
    // server go over one kept-alive connection; null: a client of its own for each download.
    HttpClient* urlClient = nullptr;
};

ProcessObjects& processObjects();

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
