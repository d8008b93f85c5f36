// The body of a web request: a url-encoded form (-post) or a multipart/form-data upload
// (-upload), turned into settings. An upload is saved in the files folder under a name of
// its own and removed when the request ends.
#pragma once

#include <cstdio>

#include "base/string.h"

namespace qarvel {

struct Settings;
struct ProcessObjects;
struct CgiRequest;

// Results of the body readers.
constexpr int kFormOk = 1;
constexpr int kFormMalformed = 0;    // the fields read so far stay
constexpr int kFormTooLarge = -1;    // refused; nothing of the body is kept on disk

// Parses a multipart/form-data body of contentLength bytes (0: CONTENT_LENGTH) from in into
// the request's form store and saves the uploaded file into folder.
int readMultipart(FILE* in, long long contentLength, const String& folder, CgiRequest& request);

// Reads the body of a POST or upload into the settings: an upload's fields from the form
// store (after readMultipart), a url-encoded body of CONTENT_LENGTH bytes from in.
// Returns kFormOk, or kFormTooLarge for a body above the request's upload limit.
int readForm(FILE* in, Settings& s, ProcessObjects& objects, CgiRequest& request, FILE* out = stdout);

// Applies a url-encoded body (already read) to the settings.
void applyUrlEncoded(const String& body, Settings& s);

// The page that answers a refused body.
void writeRefusal(FILE* out, int result, long long limit);

} // namespace qarvel
