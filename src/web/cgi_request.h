// A web request turned into settings: the option query that the web server passes as the
// program's arguments (or in QUERY_STRING), the CGI configuration keys, the page template
// keys and the file a request asks to download. The form body is read by form_reader.h.
#pragma once

#include <cstdio>

#include "base/string.h"
#include "web/form_store.h"

namespace qarvel {

struct Settings;
struct ProcessObjects;

// The largest request body taken, uploads included, unless UPLOAD_LIMIT says otherwise.
constexpr long long kDefaultUploadLimit = 32LL * 1024 * 1024;

// What only a web request sets, beside the settings record; one request per process.
struct CgiRequest {
    int active = 0;                  // the first argument began with "-cgi"
    String contentType = "text/html";
    int post = 0, upload = 0, reply = 0, forward = 0, logout = 0, configRead = 0, noAttachments = 0;
    String getFile;                  // -get: a file of the user's attachment folder
    FormStore form;
    String uploadPath;               // the saved upload, removed when the request ends
    String uploadName;               // the name the browser gave it, made safe
    String uploadFolder;             // the upload's own folder inside the files folder
    long long uploadLimit = kDefaultUploadLimit;
    int refused = 0;                 // the body was refused (too large, malformed)

    // Removes the saved upload and forgets the request.
    void release();
};

CgiRequest& cgiRequest();

// Reads the request when the first argument begins with "-cgi" (else returns 1 and changes
// nothing): the CGI configuration keys, then the query. Writes the response header lines to
// out. Returns 1 to go on, 0 to stop (a path that leaves the files folder).
int readCgiRequest(int argc, char** argv, Settings& s, ProcessObjects& objects, FILE* out = stdout);

// The content type by a file name's extension, as the download is announced.
const char* contentTypeFor(const String& name);

// The folder that a user's attachments are saved in and served from:
// working folder + "/qarvel.tmp/~" + the user id made safe for one path piece.
String attachmentFolder(const String& workingFolder, const String& user);

} // namespace qarvel
