// The receive driver over message files: display order and labels, ranges, filters,
// separators, mailbox format, -exec: temporary files, deletion, and the failure paths that
// must keep mail (a failed extraction, a failed command).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "receive/file_mailbox_reader.h"
#include "receive/header_display.h"
#include "receive/pop3_reader.h"
#include "receive/receive_driver.h"
#include "receive/scripted_transport.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int countEntries(const std::string& folder, const std::string& prefix) {
    int n = 0;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir))
            if (std::string(e->d_name).rfind(prefix, 0) == 0) ++n;
        closedir(dir);
    }
    return n;
}

using test::TempFolder;

// Runs the driver with stdout and stderr captured.
struct Outcome {
    int code = 0;
    std::string out, err;
};

Outcome runCaptured(const ReceiveOptions& options, MailboxReader& reader) {
    TempFolder capture;
    fflush(stdout);
    fflush(stderr);
    int savedOut = dup(1), savedErr = dup(2);
    int outFd = open(capture.file("out").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    int errFd = open(capture.file("err").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    dup2(outFd, 1);
    dup2(errFd, 2);
    Outcome result;
    result.code = runReceive(options, reader, nullptr);
    fflush(stdout);
    fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    close(outFd);
    close(errFd);
    result.out = readFile(capture.file("out"));
    result.err = readFile(capture.file("err"));
    return result;
}

Outcome runCaptured(const ReceiveOptions& options) {
    FileMailboxReader reader;
    return runCaptured(options, reader);
}

std::string simpleMessage(const std::string& subject, const std::string& from,
                          const std::string& body) {
    return "From: " + from + "\r\nTo: reader@example.org\r\nSubject: " + subject +
           "\r\nDate: Mon, 1 Jun 2026 10:00:00 +0000\r\n\r\n" + body;
}

// Options for a folder of message files named *.eml.
ReceiveOptions folderOptions(const TempFolder& folder) {
    ReceiveOptions o;
    o.host = folder.path;
    o.port = ".eml";
    o.user = "dummy";
    o.password = "dummy";
    o.preauth = 1;
    o.workingFolder = folder.path;
    return o;
}

void fillFolder(const TempFolder& folder, int count) {
    for (int i = 1; i <= count; ++i) {
        char name[32];
        snprintf(name, sizeof name, "m%02d.eml", i);
        writeFile(folder.file(name), simpleMessage("Subject " + std::to_string(i),
                                                   "Sender" + std::to_string(i) + " <s" +
                                                       std::to_string(i) + "@example.org>",
                                                   "Body " + std::to_string(i) + "\r\n"));
    }
}

TEST(ReceiveDriver, HeaderLinesInOrderWithLabelsAndDefaults) {
    TempFolder folder;
    writeFile(folder.file("full.eml"),
              "From: Ann <ann@example.org>\r\nReply-To: other@example.org\r\n"
              "To: bob@example.org\r\nCc: carl@example.org\r\nSubject: Hello\r\n"
              "Date: Mon, 1 Jun 2026 10:00:00 +0000\r\nOrganization: Acme\r\n"
              "Disposition-Notification-To: ann@example.org\r\nImportance: high\r\n"
              "Sensitivity: Private\r\nMessage-ID: <1@example.org>\r\nMIME-Version: 1.0\r\n"
              "Content-Type: text/plain\r\n\r\nText\r\n");
    ReceiveOptions o = folderOptions(folder);
    o.host = folder.file("full.eml");
    o.port = "";
    o.full = 1;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out,
              "1. Hello\n"
              "Date: Mon, 1 Jun 2026 10:00:00 +0000\n"
              "Disposition-Notification-To: ann@example.org\n"
              "Importance: High\n"
              "Sensitivity: Private\n"
              "Organization: Acme\n"
              "From: Ann <ann@example.org>\n"
              "Reply-To: other@example.org\n"
              "To: bob@example.org\n"
              "Cc: carl@example.org\n"
              "Message-Id: <1@example.org>\n"
              "Mime-Version: 1.0\n"
              "Content-Type: text/plain\n"
              "Text\r\n");

    // Missing fields: "[unknown]" for Date, From and To; no Reply-To equal to the sender.
    writeFile(folder.file("bare.eml"), "X-Other: 1\r\n\r\nbody\r\n");
    o.host = folder.file("bare.eml");
    o.full = 0;
    o.labels.date = "Datum";
    o.labels.from = "Von";
    r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find("body")),
              "1. [no subject]\nDatum: [unknown]\nVon: [unknown]\nTo: [unknown]\n");

    // Raw and quiet print no header lines.
    o.raw = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.out.find("Datum"), std::string::npos);
    o.raw = 0;
    o.quiet = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.out, "");
}

TEST(ReceiveDriver, MessageRangesFiltersAndCount) {
    TempFolder folder;
    fillFolder(folder, 6);
    ReceiveOptions o = folderOptions(folder);

    o.messageNumber = 3;
    o.lastMessage = 3;  // -msg:3
    Outcome r = runCaptured(o);
    EXPECT_NE(r.out.find("Subject 3"), std::string::npos);
    EXPECT_EQ(r.out.find("Subject 2"), std::string::npos);
    EXPECT_EQ(r.out.find("Subject 4"), std::string::npos);

    o.lastMessage = 5;  // -msg:3 -first:2
    r = runCaptured(o);
    EXPECT_NE(r.out.find("3. Subject 5"), std::string::npos);
    EXPECT_EQ(r.out.find("Subject 6"), std::string::npos);
    EXPECT_EQ(r.out.find("Subject 2"), std::string::npos);

    o = folderOptions(folder);
    o.subjectPattern = "*JECT 4";  // case ignored
    r = runCaptured(o);
    EXPECT_NE(r.out.find("4. Subject 4"), std::string::npos);
    EXPECT_EQ(r.out.find("Subject 1"), std::string::npos);
    o.subjectNegate = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.out.find("Subject 4"), std::string::npos);
    EXPECT_NE(r.out.find("Subject 5"), std::string::npos);

    o = folderOptions(folder);
    o.senderPattern = "*<s2@*";
    r = runCaptured(o);
    EXPECT_NE(r.out.find("Subject 2"), std::string::npos);
    EXPECT_EQ(r.out.find("Subject 3"), std::string::npos);

    o = folderOptions(folder);
    o.exitWithCount = 1;
    EXPECT_EQ(runCaptured(o).code, 6);

    TempFolder empty;
    o = folderOptions(empty);
    o.kbs = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("Received 0 bytes in ", 0), 0u) << r.out;
}

TEST(ReceiveDriver, SeparatorMailboxFormatAndHarvest) {
    TempFolder folder;
    fillFolder(folder, 2);
    ReceiveOptions o = folderOptions(folder);
    o.separator = "-----";
    o.umbox = 1;
    o.harvestFile = folder.file("harvest.txt").c_str();
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("From s1@example.org ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Body 1\r\n-----\nFrom s2@example.org "), std::string::npos) << r.out;
    EXPECT_EQ(readFile(folder.file("harvest.txt")), "Sender1 <s1@example.org>\nSender2 <s2@example.org>\n");

    EXPECT_EQ(mailboxFromLine("Ann Smith <ann@x.org>", 0), "From ann@x.org Thu Jan  1 00:00:00 1970\n");
    EXPECT_EQ(mailboxFromLine("[unknown]", 0).rfind("From MAILER-DAEMON ", 0), 0u);
}

TEST(ReceiveDriver, ExecRunsPerMessageAndRemovesItsTemporaryFile) {
    TempFolder folder;
    fillFolder(folder, 3);
    ReceiveOptions o = folderOptions(folder);
    o.execCommand = ("cat >> '" + folder.file("all.txt") + "'").c_str();
    o.remove = 1;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(folder.file("all.txt")), "Body 1\r\nBody 2\r\nBody 3\r\n");
    EXPECT_EQ(countEntries(folder.path, "qarvel-exec-"), 0);
    EXPECT_EQ(countEntries(folder.path, "m0"), 0);  // all three deleted after the command
    EXPECT_NE(r.out.find("Deleted message #3\n"), std::string::npos);

    // A command that fails on message 2: reported with the number, that message is kept.
    fillFolder(folder, 3);
    o.execCommand = "sh -c 'read line; case \"$line\" in *2*) exit 7;; esac; cat >/dev/null'";
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("message #2 exited with code 7"), std::string::npos) << r.err;
    EXPECT_TRUE(exists(folder.file("m02.eml")));
    EXPECT_FALSE(exists(folder.file("m01.eml")));
    EXPECT_FALSE(exists(folder.file("m03.eml")));
    EXPECT_EQ(countEntries(folder.path, "qarvel-exec-"), 0);

    // A working folder where no temporary file can be made: nothing deleted, exit 1.
    fillFolder(folder, 1);
    o.workingFolder = folder.file("missing").c_str();
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(exists(folder.file("m01.eml")));
}

TEST(ReceiveDriver, DeletionAndFastDeletion) {
    TempFolder folder;
    fillFolder(folder, 4);
    ReceiveOptions o = folderOptions(folder);
    o.remove = 1;
    o.messageNumber = 2;
    o.lastMessage = 3;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Body 2\r\nDeleted message #2\n"), std::string::npos) << r.out;
    EXPECT_TRUE(exists(folder.file("m01.eml")));
    EXPECT_FALSE(exists(folder.file("m02.eml")));
    EXPECT_FALSE(exists(folder.file("m03.eml")));
    EXPECT_TRUE(exists(folder.file("m04.eml")));

    // -rm -br -q: no output, no retrieval, every message in range deleted.
    fillFolder(folder, 4);
    o = folderOptions(folder);
    o.remove = o.brief = o.quiet = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(countEntries(folder.path, "m0"), 0);

    // A reader that cannot undelete: the failure line and exit 1.
    fillFolder(folder, 1);
    o = folderOptions(folder);
    o.remove = o.undelete = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Undeleted message #1\n"), std::string::npos);
    EXPECT_NE(r.err.find("Could not delete message, error= 0"), std::string::npos) << r.err;
}

const char* kWithAttachment =
    "From: a@example.org\r\nTo: b@example.org\r\nSubject: att\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
    "--B\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
    "--B\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n"
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\r\n--B--\r\n";

TEST(ReceiveDriver, ExtractionWritesPartsAndAFailedOneKeepsTheMessage) {
    TempFolder folder;
    writeFile(folder.file("m01.eml"), kWithAttachment);
    mkdir(folder.file("out").c_str(), 0700);
    ReceiveOptions o = folderOptions(folder);
    o.extract = 1;
    o.extractFolder = folder.file("out").c_str();
    o.remove = 1;
    o.quiet = 1;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;
    std::string bytes = readFile(folder.file("out/data.bin"));
    ASSERT_EQ(bytes.size(), 32u);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(bytes[i], static_cast<char>(i));
    EXPECT_FALSE(exists(folder.file("m01.eml")));

    // A folder that does not exist: nothing written, the message stays, exit 1.
    writeFile(folder.file("m01.eml"), kWithAttachment);
    o.extractFolder = folder.file("nowhere").c_str();
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(exists(folder.file("m01.eml")));
    EXPECT_NE(r.err.find("message #1"), std::string::npos) << r.err;

    // A short write (a file-size limit of 10 bytes in a child): the message stays.
    o.extractFolder = folder.file("out").c_str();
    unlink(folder.file("out/data.bin").c_str());
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {10, 10};
        setrlimit(RLIMIT_FSIZE, &limit);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        FileMailboxReader reader;
        _exit(runReceive(o, reader, nullptr));
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(exists(folder.file("m01.eml")));
    EXPECT_FALSE(exists(folder.file("out/data.bin")));  // the partial file is removed
}

TEST(ReceiveDriver, CredentialAndConnectFailures) {
    TempFolder folder;
    ReceiveOptions o = folderOptions(folder);
    o.user = "";
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Missing userid\n");

    o.user = "someone";
    o.password = "";
    o.logFile = "log.txt";  // no prompt with a log file
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Missing password\n");

    o.password = "";
    o.certificate = "client.pem";  // a certificate replaces the password check
    o.preauth = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;

    // A message file that does not exist: the count is 1 and the retrieval fails.
    o = folderOptions(folder);
    o.host = folder.file("absent.eml").c_str();
    o.port = "";
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Could not retrieve message (1/1), error= -1\n");
}

TEST(ReceiveDriver, Pop3SessionsEndWithQuitOnEveryPath) {
    ReceiveOptions o;
    o.host = "127.0.0.1";
    o.port = "110";
    o.user = "u";
    o.password = "p";

    // Login refused: both lines, exit 1, and still QUIT.
    ScriptedTransport<Pop3Reader> refused("+OK ready\r\n+OK\r\n-ERR invalid password\r\n+OK bye\r\n");
    Outcome r = runCaptured(o, refused);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Could not log in as 'u' to: 127.0.0.1:110\n-ERR invalid password\r\n");
    EXPECT_EQ(refused.sent(), "USER u\r\nPASS p\r\nQUIT\r\n");

    const std::string session = "+OK ready\r\n+OK\r\n+OK in\r\n+OK 1 30\r\n+OK\r\n1 30\r\n.\r\n"
                                "+OK 30\r\nSubject: s\r\n\r\nbody\r\n.\r\n";
    // A refused DELE: the failure line, exit 1, QUIT.
    ScriptedTransport<Pop3Reader> deleting(session + "-ERR locked\r\n+OK bye\r\n");
    o.remove = 1;
    o.quiet = 1;
    r = runCaptured(o, deleting);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Could not delete message, error= -1\n");
    EXPECT_NE(deleting.sent().find("RETR 1\r\nDELE 1\r\nQUIT\r\n"), std::string::npos)
        << deleting.sent();

    // -rm -br -q deletes without retrieving.
    ScriptedTransport<Pop3Reader> fast("+OK ready\r\n+OK\r\n+OK in\r\n+OK 2 60\r\n+OK\r\n1 30\r\n2 30\r\n.\r\n"
                                       "+OK\r\n+OK\r\n+OK bye\r\n");
    o.brief = 1;
    r = runCaptured(o, fast);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(fast.sent().find("RETR"), std::string::npos);
    EXPECT_NE(fast.sent().find("DELE 1\r\nDELE 2\r\nQUIT\r\n"), std::string::npos) << fast.sent();

    // -xit: the count is the exit code, after QUIT.
    ScriptedTransport<Pop3Reader> counting("+OK ready\r\n+OK\r\n+OK in\r\n+OK 2 60\r\n+OK\r\n1 30\r\n2 30\r\n.\r\n+OK bye\r\n");
    o = ReceiveOptions();
    o.host = "h";
    o.port = "110";
    o.user = "u";
    o.password = "p";
    o.exitWithCount = 1;
    r = runCaptured(o, counting);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(counting.sent().find("QUIT\r\n"), std::string::npos);

    // A refused connection, tried once more with -retries:1.
    ScriptedTransport<Pop3Reader> down;
    down.failConnect(-10061);
    o.retries = 1;
    r = runCaptured(o, down);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Could not connect to: h:110, error= -10061\n");
}

} // namespace
} // namespace qarvel
