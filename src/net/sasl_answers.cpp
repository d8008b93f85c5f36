// The SASL answers of PLAIN, LOGIN and CRAM-MD5.
#include "net/sasl_answers.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/base64.h"
#include "base/md5.h"

namespace qarvel {

String saslPlainAnswer(const String& user, const String& password) {
    std::string text;
    text += '\0';
    text.append(user.c_str(), user.length());
    text += '\0';
    text.append(password.c_str(), password.length());
    return base64Encode(text.data(), text.size(), 0);
}

String saslLoginAnswer(const String& text) { return base64Encode(text.c_str(), text.length(), 0); }

String saslCramMd5Answer(const char* challengeLine, const String& user, const String& password) {
    char challenge[256] = "";
    if (sscanf(challengeLine, "%*s %255[^\r\n]", challenge) != 1) challenge[0] = '\0';
    String decoded = base64Decode(challenge, strlen(challenge));
    unsigned char digest[16];
    hmacMd5(decoded.c_str(), decoded.length(), password.c_str(), password.length(), digest);
    String answer = user + " " + digestToHex(digest);
    return base64Encode(answer.c_str(), answer.length(), 0);
}

} // namespace qarvel
