// The password sources beyond -pass: and the mode rule for secret files.
#include "config/secret_sources.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "config/settings.h"

namespace qarvel {

using namespace std::string_view_literals;

namespace {

// A secret is one line; tokens of the large providers stay well below this.
constexpr size_t kSecretMax = 16384;

// The first line of text, without its line end; "" for none.
String firstLine(const std::string& text) {
    size_t end = text.find_first_of("\r\n");
    return String(text.data(), end == std::string::npos ? text.size() : end);
}

// Reads all of fd (up to a limit, the rest drained) into text; false on a read error.
bool readAll(int fd, std::string& text) {
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (text.size() < kSecretMax) text.append(buffer, static_cast<size_t>(n));
    }
}

// Reads a secret file under the mode rule. Returns false with the reason in complaint.
bool readSecretFile(const String& path, std::string& text, String& complaint) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        complaint = "Could not read '" + path + "': " + std::strerror(errno);
        return false;
    }
    complaint = secretFileComplaint(fd, path);
    bool ok = complaint.empty() && readAll(fd, text);
    if (complaint.empty() && !ok) complaint = "Could not read '" + path + "': " + std::strerror(errno);
    close(fd);
    return ok;
}

// Runs command through /bin/sh; its first output line is the secret.
bool runPasswordCommand(const String& command, String& secret, std::FILE* err) {
    std::fflush(nullptr);
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        std::fprintf(err, "Password command could not be started: %s\n", std::strerror(errno));
        return false;
    }
    std::string output;
    readAll(fileno(pipe), output);
    const int status = pclose(pipe);
    if (status != 0) {
        if (status > 0 && WIFEXITED(status))
            std::fprintf(err, "Password command failed with exit status %d: %s\n", WEXITSTATUS(status),
                         command.c_str());
        else
            std::fprintf(err, "Password command failed: %s\n", command.c_str());
        return false;
    }
    secret = firstLine(output);
    if (secret.empty()) {
        std::fprintf(err, "Password command gave no password: %s\n", command.c_str());
        return false;
    }
    return true;
}

// The next word of a .netrc text (blanks, tabs and line ends separate; a double-quoted word
// may hold blanks, with backslash escapes).
std::string_view nextWord(std::string_view& text, std::string& unquoted) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    text.remove_prefix(i);
    if (text.empty()) return {};
    if (text[0] == '"') {
        unquoted.clear();
        size_t j = 1;
        for (; j < text.size() && text[j] != '"'; ++j) {
            if (text[j] == '\\' && j + 1 < text.size()) ++j;
            unquoted += text[j];
        }
        text.remove_prefix(j < text.size() ? j + 1 : j);
        return unquoted;
    }
    size_t j = 0;
    while (j < text.size() && text[j] != ' ' && text[j] != '\t' && text[j] != '\n' && text[j] != '\r') ++j;
    std::string_view word = text.substr(0, j);
    text.remove_prefix(j);
    return word;
}

} // namespace

String secretFileComplaint(int fd, const String& path) {
    struct stat status;
    if (fstat(fd, &status) != 0) return "Could not check '" + path + "': " + std::strerror(errno);
    const unsigned mode = status.st_mode & 07777;
    if ((mode & 077) == 0) return String();
    char text[16];
    std::snprintf(text, sizeof text, "%04o", mode);
    return "'" + path + "' holds a secret but group or others may use it (mode " + text +
           "): chmod 600 '" + path + "'";
}

NetrcLogin netrcLookup(std::string_view text, const String& host, const String& user) {
    NetrcLogin fallback, current;
    enum { kNone, kMachine, kDefault } entry = kNone;
    auto finish = [&](bool& done, NetrcLogin& result) {
        if (entry == kMachine && current.found && (current.login.empty() || user.empty() || current.login == user)) {
            result = current;
            done = true;
        } else if (entry == kDefault && !fallback.found) {
            fallback = current;
        }
    };
    NetrcLogin result;
    bool done = false;
    std::string a, b;
    while (!done) {
        std::string_view word = nextWord(text, a);
        if (word.empty()) break;
        if (word == "machine"sv || word == "default"sv) {
            finish(done, result);
            if (done) break;
            current = NetrcLogin();
            if (word == "default"sv) {
                entry = kDefault;
                current.found = true;
            } else {
                entry = kMachine;
                current.found = nextWord(text, b) == host.view();
            }
        } else if (word == "login"sv || word == "password"sv || word == "account"sv) {
            String value(nextWord(text, b));
            if (word == "login"sv) current.login = value;
            else if (word == "password"sv) current.password = value;
        } else if (word == "macdef"sv) {
            // The macro's body runs to the next empty line.
            size_t end = text.find("\n\n");
            text.remove_prefix(end == std::string_view::npos ? text.size() : end);
        }
    }
    if (!done) finish(done, result);
    if (done) return result;
    if (fallback.found && (fallback.login.empty() || user.empty() || fallback.login == user)) return fallback;
    return NetrcLogin();
}

bool resolvePassword(Settings& s, const String& host, std::FILE* err) {
    if (!s.receive.passwordCommand.empty()) return runPasswordCommand(s.receive.passwordCommand, s.receive.password, err);
    if (!s.receive.passwordFile.empty()) {
        std::string text;
        String complaint;
        if (!readSecretFile(s.receive.passwordFile, text, complaint)) {
            std::fprintf(err, "%s\n", complaint.c_str());
            return false;
        }
        s.receive.password = firstLine(text);
        if (s.receive.password.empty()) {
            std::fprintf(err, "Password file '%s' holds no password\n", s.receive.passwordFile.c_str());
            return false;
        }
        return true;
    }
    if (s.receive.user.empty() || !s.receive.password.empty()) return true;
    if (const char* fromEnvironment = std::getenv("QARVEL_PASSWORD"); fromEnvironment && *fromEnvironment) {
        s.receive.password = firstLine(fromEnvironment);
        return true;
    }
    const char* home = std::getenv("HOME");
    if (!home || !*home) return true;
    const String path = String(home) + "/.netrc";
    if (access(path.c_str(), F_OK) != 0) return true;
    std::string text;
    String complaint;
    if (!readSecretFile(path, text, complaint)) {
        std::fprintf(err, "%s\n", complaint.c_str());
        return false;
    }
    NetrcLogin login = netrcLookup(text, host, s.receive.user);
    if (login.found) s.receive.password = login.password;
    return true;
}

bool prepareCredentials(Settings& s, bool reading, LoginMechanism& mechanism, std::FILE* err) {
    const bool local = reading ? s.reader == ReaderKind::kFile : s.sender == SenderKind::kFile;
    if (local) return true;
    const bool upload = !reading && s.sender == SenderKind::kImapUpload;
    const String& host = reading || upload ? (s.receive.imap ? s.servers.imapHost : s.servers.pop3Host) : s.smtp.news ? s.servers.nntpHost : s.servers.smtpHost;
    mechanism = LoginMechanism::kPassword;
    if (!s.receive.authMechanism.empty() && !readLoginMechanism(s.receive.authMechanism, mechanism)) {
        std::fprintf(err, "Unknown login mechanism '%s': -auth: takes xoauth2 or oauthbearer\n", s.receive.authMechanism.c_str());
        return false;
    }
    const bool bearer = mechanism != LoginMechanism::kPassword;
    if (bearer && !reading && s.sender != SenderKind::kSmtp) {
        std::fprintf(err, "OAuth2 login (-auth:%s) is for sending over SMTP and reading over POP3 or IMAP\n",
                     s.receive.authMechanism.c_str());
        return false;
    }
    if (!resolvePassword(s, host, err)) return false;
    if (s.receive.user.empty() || s.receive.preauthenticated || s.servers.startTls || s.servers.implicitTls) return true;
    if (bearer) {
        std::fprintf(err, "An OAuth2 token is never sent without TLS: add -tls or -ssl to reach '%s'\n", host.c_str());
        return false;
    }
    if (s.receive.requireTls) {
        std::fprintf(err, "The password for '%s' would travel without TLS, which -requiretls forbids: add -tls or -ssl\n",
                     host.c_str());
        return false;
    }
    return true;
}

} // namespace qarvel
