// -url: and URL: the download that becomes an attachment. It runs when the option is read, so
// the settings given before it (-user:, -post:, -referer:, -cafile:, ...) shape the request.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "base/run_failure.h"
#include "base/temp_file.h"
#include "config/process.h"
#include "config/settings.h"
#include "net/http_client.h"

namespace qarvel {

namespace {

// The local file name of a download: after "|" when the URL names one, else the last piece of
// the URL's path without query. It never leaves its folder: cut at the last "/" or "\", and a
// name that is empty or only dots becomes "index.html".
String localNameOf(String& url) {
    String name;
    size_t bar = url.view().rfind('|');
    if (bar != std::string_view::npos) {
        name = String(url, bar + 1);
        url = String(url, 0, bar);
    } else {
        String scheme, host, port, path, fragment;
        HttpClient::splitUrl(url, scheme, host, port, path, fragment);
        name = path;
        size_t query = name.find('?');
        if (query != String::npos) name = String(name, 0, query);
    }
    size_t cut = name.view().find_last_of("/\\");
    if (cut != std::string_view::npos) name = String(name, cut + 1);
    if (name.view().find_first_not_of('.') == std::string_view::npos) name = "index.html";
    return name;
}

String withoutLineBreaks(const String& text) {
    String out;
    for (size_t i = 0; i < text.length(); ++i)
        if (text[i] != '\r' && text[i] != '\n') out += text[i];
    return out;
}

}  // namespace

void queueUrl(Settings& s, ProcessObjects& objects) {
    String url = s.web.url;
    String localName = localNameOf(url);
    // Credentials in the URL are this download's own; the URL is fetched and shown without them.
    String user = s.receive.user, password = s.receive.password;
    HttpClient::takeUserInfo(url, url, user, password);
    String localPath = localName;
    if (!s.receive.extractFolder.empty()) localPath = s.receive.extractFolder + "/" + localName;

    String scheme, host, port, path, fragment;
    HttpClient::splitUrl(url, scheme, host, port, path, fragment);
    if (s.tools.verbose != 0)
        std::printf("Scheme = '%s', host = '%s, port = '%s', file = '%s', localname = '%s'\n",
                    scheme.c_str(), host.c_str(), port.c_str(), path.c_str(), localPath.c_str());
    if (!scheme.equalsIgnoreCase("http") && !scheme.equalsIgnoreCase("https")) return;

    // With HTTP/1.1 the downloads share one client: its connection outlives the download.
    HttpClient own(s.web.http11);
    HttpClient& client = s.web.http11 && objects.urlClient ? *objects.urlClient : own;
    client.startJob(tlsOptionsOf(s.connection, s.tools.verbose));
    client.trace = s.tools.verbose != 0;
    client.setTimeout(s.connection.timeoutSeconds);
    if (!s.web.destination.empty() && s.web.post)
        client.addHeader("Destination: " + withoutLineBreaks(s.web.destination) + "\r\n");
    if (!user.empty()) client.setCredentials(user, password);
    client.credentialsNeedTls = s.receive.requireTls;
    if (!s.servers.proxyHost.empty()) client.setProxy(s.servers.proxyHost, s.servers.proxyPort);
    client.referer = s.web.referer;
    if (s.web.post) {
        client.requestBody = s.content.messageText;
        client.requestContentType = s.content.contentType;
    }

    // The download goes to a file of its own first: a failed one must not replace a file that
    // already has the name.
    TempFile partial = TempFile::beside(localPath);
    int result = -1;
    if (partial.valid()) {
        // The finished file gets the permissions any new file would get, not the 0600 of a temporary file.
        partial.setMode(TempFile::newFileMode());
        partial.close();
        result = client.fetch(url, String(partial.path()), s.web.post ? kHttpPost : kHttpGet);
    }
    if (result != 1 || !partial.moveTo(localPath)) {
        noteFailure(result != 1 && partial.valid() ? client.failure() : Failure::kOther);
        std::fprintf(stderr, "WARNING: URL '%s' does not exist! (%s)\n", url.c_str(),
                     partial.valid() ? client.statusText() : "500 TEMPORARY FILE FAILURE");
        ++s.content.missingAttachments;
        return;
    }
    if (queueAttachment(objects, localPath, String(), 0, s.content.missingAttachments))
        s.content.attachments.add(localPath);
    if (s.tools.verbose != 0) std::fprintf(stderr, "Got: %u bytes\n", client.bytesFetched());
}

}  // namespace qarvel
