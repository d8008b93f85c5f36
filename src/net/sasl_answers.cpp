// The SASL answers of PLAIN, LOGIN, CRAM-MD5, XOAUTH2 and OAUTHBEARER.
#include "net/sasl_answers.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>

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

bool readLoginMechanism(const String& word, LoginMechanism& mechanism) {
    if (strcasecmp(word.c_str(), "xoauth2") == 0) mechanism = LoginMechanism::kXoauth2;
    else if (strcasecmp(word.c_str(), "oauthbearer") == 0) mechanism = LoginMechanism::kOauthBearer;
    else return false;
    return true;
}

const char* saslName(LoginMechanism mechanism) {
    switch (mechanism) {
    case LoginMechanism::kXoauth2: return "XOAUTH2";
    case LoginMechanism::kOauthBearer: return "OAUTHBEARER";
    default: return "PLAIN";
    }
}

LoginMechanism chooseBearer(LoginMechanism preferred, bool offersXoauth2, bool offersOauthBearer) {
    if (preferred == LoginMechanism::kXoauth2 && offersXoauth2) return preferred;
    if (preferred == LoginMechanism::kOauthBearer && offersOauthBearer) return preferred;
    if (offersOauthBearer) return LoginMechanism::kOauthBearer;
    if (offersXoauth2) return LoginMechanism::kXoauth2;
    return LoginMechanism::kPassword;
}

String saslBearerAnswer(LoginMechanism mechanism, const String& user, const String& token, const String& host,
                        const String& port) {
    std::string text;
    if (mechanism == LoginMechanism::kXoauth2) {
        text = "user=" + user.str() + "\x01";
    } else {
        // The authorization identity of the GS2 header writes "," and "=" as "=2C" and "=3D".
        text = "n,a=";
        for (char c : user.view()) text += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
        text += ",\x01";
        if (!host.empty()) text += "host=" + host.str() + "\x01";
        if (!port.empty()) text += "port=" + port.str() + "\x01";
    }
    text += "auth=Bearer " + token.str() + "\x01\x01";
    return base64Encode(text.data(), text.size(), 0);
}

const char* saslBearerErrorAnswer(LoginMechanism mechanism) {
    return mechanism == LoginMechanism::kOauthBearer ? "AQ==" : "";
}

} // namespace qarvel
