// The password sources beyond -pass: and the mode rule for secret files.
#include "config/secret_sources.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "base/run_failure.h"
#include "config/settings.h"
#include "config/user_file.h"

namespace qarvel {

using namespace std::string_view_literals;

namespace {

// A secret is one line; tokens of the large providers stay well below this.
constexpr size_t kSecretMax = kSecretFileLimit;

// The first line of text, without its line end; "" for none.
String firstLine(const std::string& text) {
    size_t end = text.find_first_of("\r\n");
    return String(text.data(), end == std::string::npos ? text.size() : end);
}

// Reads a secret file under the rule for secret files. Returns false with the reason in complaint.
bool readSecretFile(const String& path, size_t limit, std::string& text, String& complaint) {
    UserFile file = readUserFile(path, FileUse::kSecret, limit);
    if (file.state == 0) complaint = "Could not read '" + path + "': " + std::strerror(file.errorNumber);
    else complaint = file.complaint;
    text = std::move(file.text);
    return file.state == 1;
}

// How long a password command may go on after it gave its first line before it is ended: it
// has given what the run needs, and waiting longer only serves to learn whether it failed.
constexpr int kCommandGraceMilliseconds = 3000;

// Waits up to the grace time for the command's process; ends its process group when it is still
// there. Returns its wait status, or -1 when it had to be ended.
int reapCommand(pid_t child) {
    for (int waited = 0; waited < kCommandGraceMilliseconds; waited += 10) {
        int status = 0;
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) return status;
        if (done < 0 && errno != EINTR) return -1;
        usleep(10 * 1000);
    }
    kill(-child, SIGTERM);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    return -1;
}

// Runs command through /bin/sh; its first output line is the secret. Output is read up to the
// first line end (at most kSecretMax bytes), then the pipe is closed: a command that goes on
// writing ("yes pw") ends on the closed pipe, and one that keeps running without a word is ended
// after a grace time, so that no command holds the run.
bool runPasswordCommand(const String& command, String& secret, std::FILE* err) {
    std::fflush(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        std::fprintf(err, "Password command could not be started: %s\n", std::strerror(errno));
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        // A process group of its own, so that what it started ends with it; the default SIGPIPE,
        // so that the closed pipe ends it rather than making it complain.
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        dup2(fds[1], STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        std::fprintf(err, "Password command could not be started: %s\n", std::strerror(errno));
        return false;
    }
    std::string output;
    char buffer[4096];
    while (output.size() < kSecretMax && output.find_first_of("\r\n") == std::string::npos) {
        ssize_t n = read(fds[0], buffer, std::min(sizeof buffer, kSecretMax - output.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.append(buffer, static_cast<size_t>(n));
    }
    const bool gaveLine = output.find_first_of("\r\n") != std::string::npos;
    close(fds[0]);
    const int status = reapCommand(child);
    // A command cut off after its line (by the closed pipe or at the end of the grace time) has
    // given its password; one that ended on its own is judged by its exit status.
    // (The shell reports a command of its own that the pipe ended as 128 + SIGPIPE.)
    const bool endedByPipe = (WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) ||
                             (WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGPIPE);
    const bool cut = gaveLine && (status == -1 || endedByPipe);
    if (status != 0 && !cut) {
        if (status > 0 && WIFEXITED(status))
            std::fprintf(err, "Password command failed with exit status %d: %s\n", WEXITSTATUS(status),
                         command.c_str());
        else
            std::fprintf(err, "Password command failed: %s\n", command.c_str());
        return false;
    }
    secret = firstLine(output);
    if (secret.empty() || (!gaveLine && output.size() >= kSecretMax)) {
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

const String& environmentPassword() {
    static String password;
    if (const char* value = std::getenv("QARVEL_PASSWORD")) {
        password = firstLine(value);
        unsetenv("QARVEL_PASSWORD");
    }
    return password;
}

bool resolvePassword(Settings& s, const String& host, std::FILE* err) {
    if (!s.receive.passwordCommand.empty()) return runPasswordCommand(s.receive.passwordCommand, s.receive.password, err);
    if (!s.receive.passwordFile.empty()) {
        std::string text;
        String complaint;
        if (!readSecretFile(s.receive.passwordFile, kSecretMax, text, complaint)) {
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
    if (const String& fromEnvironment = environmentPassword(); !fromEnvironment.empty()) {
        s.receive.password = fromEnvironment;
        return true;
    }
    const char* home = std::getenv("HOME");
    if (!home || !*home) return true;
    const String path = String(home) + "/.netrc";
    if (access(path.c_str(), F_OK) != 0) return true;
    std::string text;
    String complaint;
    if (!readSecretFile(path, kSettingsFileLimit, text, complaint)) {
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
        noteFailure(Failure::kUsage);
        return false;
    }
    const bool bearer = mechanism != LoginMechanism::kPassword;
    if (bearer && !reading && s.sender != SenderKind::kSmtp) {
        std::fprintf(err, "OAuth2 login (-auth:%s) is for sending over SMTP and reading over POP3 or IMAP\n",
                     s.receive.authMechanism.c_str());
        noteFailure(Failure::kUsage);
        return false;
    }
    if (!resolvePassword(s, host, err)) {
        noteFailure(Failure::kConfiguration);
        return false;
    }
    if (s.receive.user.empty() || s.receive.preauthenticated || s.connection.tls || s.connection.ssl) return true;
    if (bearer) {
        std::fprintf(err, "An OAuth2 token is never sent without TLS: add -tls or -ssl to reach '%s'\n", host.c_str());
        noteFailure(Failure::kUsage);
        return false;
    }
    if (s.receive.requireTls) {
        std::fprintf(err, "The password for '%s' would travel without TLS, which -requiretls forbids: add -tls or -ssl\n",
                     host.c_str());
        noteFailure(Failure::kUsage);
        return false;
    }
    return true;
}

} // namespace qarvel
