// The receive driver over message files: display order and labels, ranges, filters,
// separators, mailbox format, -exec: temporary files, deletion, and the failure paths that
// must keep mail (a failed extraction, a failed command). The file mailbox reader itself: one
// file or the files of a folder, deletion, and the state close and retrieveHeader leave.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "receive/file_mailbox_reader.h"
#include "receive/header_display.h"
#include "receive/imap_reader.h"
#include "receive/message_actions.h"
#include "receive/message_forward.h"
#include "receive/message_parser.h"
#include "receive/pop3_reader.h"
#include "receive/receive_driver.h"
#include "send/smtp_session.h"
#include "support/scripted_socket.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

// The names in the folder that begin with prefix, sorted and blank-separated.
std::string entries(const std::string& folder, const std::string& prefix) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().starts_with(prefix)) names.insert(e.path().filename());
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

using test::TempFolder;

// Runs the driver with stdout and stderr captured.
struct Outcome {
    int code = 0;
    std::string out, err;
};

Outcome runCaptured(const ReceiveOptions& options, MailboxReader& reader, SmtpSession* relay = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Outcome result;
    result.code = runReceive(options, reader, relay);
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

Outcome runCaptured(const ReceiveOptions& options) {
    FileMailboxReader reader;
    return runCaptured(options, reader);
}

// Options for a POP3 server on 127.0.0.1:110 (a scripted socket) with user u and password p.
ReceiveOptions pop3Options() {
    ReceiveOptions o;
    o.host = "127.0.0.1";
    o.port = "110";
    o.receive.user = "u";
    o.receive.password = "p";
    return o;
}

// Options for a folder of message files named *.eml.
ReceiveOptions folderOptions(const TempFolder& folder) {
    ReceiveOptions o;
    o.host = folder.path;
    o.port = ".eml";
    o.receive.user = "dummy";
    o.receive.password = "dummy";
    o.receive.preauthenticated = 1;
    o.workingFolder = folder.path;
    return o;
}

// Messages m01.eml .. mNN.eml: "Subject N" from "SenderN <sN@example.org>", body "Body N".
void fillFolder(const TempFolder& folder, int count) {
    for (int i = 1; i <= count; ++i) {
        const std::string n = std::to_string(i);
        folder.put((i < 10 ? "m0" : "m") + n + ".eml",
                   "From: Sender" + n + " <s" + n + "@example.org>\r\nTo: reader@example.org\r\nSubject: Subject " + n +
                       "\r\nDate: Mon, 1 Jun 2026 10:00:00 +0000\r\n\r\nBody " + n + "\r\n");
    }
}

TEST(ReceiveDriver, HeaderLinesInOrderWithLabelsAndDefaults) {
    TempFolder folder;
    folder.put("full.eml", "From: Ann <ann@example.org>\r\nReply-To: other@example.org\r\n"
              "To: bob@example.org\r\nCc: carl@example.org\r\nSubject: Hello\r\n"
              "Date: Mon, 1 Jun 2026 10:00:00 +0000\r\nOrganization: Acme\r\n"
              "Disposition-Notification-To: ann@example.org\r\nImportance: high\r\n"
              "Sensitivity: Private\r\nMessage-ID: <1@example.org>\r\nMIME-Version: 1.0\r\n"
              "Content-Type: text/plain\r\n\r\nText\r\n");
    ReceiveOptions o = folderOptions(folder);
    o.host = folder.file("full.eml");
    o.port = "";
    o.receive.fullHeaders = 1;
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
    folder.put("bare.eml", "X-Other: 1\r\n\r\nbody\r\n");
    o.host = folder.file("bare.eml");
    o.receive.fullHeaders = 0;
    o.labels.date = "Datum";
    o.labels.from = "Von";
    r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.substr(0, r.out.find("body")),
              "1. [no subject]\nDatum: [unknown]\nVon: [unknown]\nTo: [unknown]\n");
    o.tools.quiet = 1;  // -q shows nothing (-raw: SeparatorMailboxFormatAndHarvest)
    EXPECT_EQ(runCaptured(o).out, "");
}

TEST(ReceiveDriver, MessageRangesFiltersAndCount) {
    TempFolder folder;
    fillFolder(folder, 6);
    struct Case {
        const char* name;
        std::function<void(ReceiveOptions&)> set;
        std::vector<std::string> shown, hidden;
    } cases[] = {
        {"-msg:3", [](ReceiveOptions& o) { o.receive.messageNumber = o.receive.lastMessage = 3; }, {"Subject 3"},
         {"Subject 2", "Subject 4"}},
        {"-msg:3 -first:2", [](ReceiveOptions& o) { o.receive.messageNumber = 3; o.receive.lastMessage = 5; }, {"3. Subject 5"},
         {"Subject 2", "Subject 6"}},
        {"-pat:, case ignored", [](ReceiveOptions& o) { o.receive.subjectPattern = "*JECT 4"; }, {"4. Subject 4"},
         {"Subject 1"}},
        {"-pat: negated", [](ReceiveOptions& o) { o.receive.subjectPattern = "*JECT 4"; o.receive.subjectPatternNegated = 1; },
         {"Subject 5"}, {"Subject 4"}},
        {"-spat:", [](ReceiveOptions& o) { o.receive.senderPattern = "*<s2@*"; }, {"Subject 2"}, {"Subject 3"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ReceiveOptions o = folderOptions(folder);
        k.set(o);
        Outcome r = runCaptured(o);
        for (const std::string& text : k.shown) EXPECT_NE(r.out.find(text), std::string::npos) << text;
        for (const std::string& text : k.hidden) EXPECT_EQ(r.out.find(text), std::string::npos) << text;
    }

    ReceiveOptions o = folderOptions(folder);
    o.receive.exitWithCount = 1;
    EXPECT_EQ(runCaptured(o).code, 6);

    TempFolder empty;
    o = folderOptions(empty);
    o.receive.showRate = 1;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("Received 0 bytes in ", 0), 0u) << r.out;
}

TEST(ReceiveDriver, SeparatorMailboxFormatAndHarvest) {
    TempFolder folder;
    fillFolder(folder, 2);
    ReceiveOptions o = folderOptions(folder);
    o.receive.separator = "-----";
    o.receive.unixMailbox = 1;
    o.receive.harvestFile = folder.file("harvest.txt").c_str();
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("From s1@example.org ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Body 1\r\n-----\nFrom s2@example.org "), std::string::npos) << r.out;
    EXPECT_EQ(folder.read("harvest.txt"), "Sender1 <s1@example.org>\nSender2 <s2@example.org>\n");
    // Body lines that begin with "From " (after any ">") gain one ">"; only the separator line
    // begins with "From ", which stays one line of three fields whatever the sender holds.
    TempFolder quoting;
    quoting.put("m01.eml", "From: a@example.org\r\n\r\nFrom here\r\n>From there\r\nFrom\r\nsaid From \r\n>>>From x\r\n");
    ReceiveOptions q = folderOptions(quoting);
    q.receive.unixMailbox = 1;
    r = runCaptured(q);
    EXPECT_NE(r.out.find("\n>From here\r\n>>From there\r\nFrom\r\nsaid From \r\n>>>>From x\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\nFrom "), std::string::npos) << r.out;
    EXPECT_EQ(mailboxFromLine("x <a\r\nFrom b\x1b@c>", 0), "From a__From_b_@c Thu Jan  1 00:00:00 1970\n");

    // A raw text goes out as it is read, after its counter; the separator still follows its
    // last line, and a line end comes first when the text has none.
    folder.put("m03.eml", "Subject: 3\r\n\r\nno line end");
    o.receive.unixMailbox = 0;
    o.content.raw = 1;
    o.receive.harvestFile = String();
    r = runCaptured(o);
    EXPECT_EQ(r.out, "1. Body 1\r\n-----\n2. Body 2\r\n-----\n3. no line end\n-----\n");
    // The number shown counts this run's messages: -msg:3 shows the third message as "1.".
    o.receive.messageNumber = o.receive.lastMessage = 3;
    r = runCaptured(o);
    EXPECT_EQ(r.out, "1. no line end\n-----\n");
    // A mailbox file needs the whole message: its raw text does not stream past the framing.
    o.receive.unixMailbox = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.out.rfind("From MAILER-DAEMON ", 0), 0u) << r.out;
}

TEST(ReceiveDriver, ExecRunsPerMessageAndRemovesItsTemporaryFile) {
    TempFolder folder;
    fillFolder(folder, 3);
    ReceiveOptions o = folderOptions(folder);
    o.receive.execCommand = ("cat >> '" + folder.file("all.txt") + "'").c_str();
    o.receive.remove = 1;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(folder.read("all.txt"), "Body 1\r\nBody 2\r\nBody 3\r\n");
    EXPECT_EQ(entries(folder.path, "qarvel-exec-"), "");
    EXPECT_EQ(entries(folder.path, "m0"), "");  // all three deleted after the command
    EXPECT_NE(r.out.find("Deleted message #3\n"), std::string::npos);

    // A command that fails on message 2: reported with the number, that message is kept.
    fillFolder(folder, 3);
    o.receive.execCommand = "sh -c 'read line; case \"$line\" in *2*) exit 7;; esac; cat >/dev/null'";
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("message #2 exited with code 7"), std::string::npos) << r.err;
    EXPECT_EQ(entries(folder.path, "m0"), "m02.eml");
    EXPECT_EQ(entries(folder.path, "qarvel-exec-"), "");

    // A working folder where no temporary file can be made: nothing deleted, exit 1.
    fillFolder(folder, 1);
    o.workingFolder = folder.file("missing").c_str();
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(entries(folder.path, "m0"), "m01.eml m02.eml");

    // The temporary file's path is quoted for the shell.
    const std::string odd = folder.file("it's a $dir; rm -rf x");
    ASSERT_EQ(mkdir(odd.c_str(), 0700), 0);
    o.workingFolder = odd.c_str();
    o.receive.execCommand = ("cat >> '" + folder.file("got.txt") + "'").c_str();
    r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(folder.read("got.txt"), "Body 1\r\nBody 2\r\n");
    EXPECT_EQ(entries(odd, "qarvel-exec-"), "");
    EXPECT_EQ(shellQuoted("a'b"), "'a'\\''b'");
}

TEST(ReceiveDriver, DeletionInARangeAndUndelete) {
    TempFolder folder;
    fillFolder(folder, 4);
    ReceiveOptions o = folderOptions(folder);
    o.receive.remove = 1;
    o.receive.messageNumber = 2;
    o.receive.lastMessage = 3;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0);
    // Standard output is a file here: the deletions wait until it is synced, after message 3.
    EXPECT_NE(r.out.find("Body 3\r\nDeleted message #2\nDeleted message #3\n"), std::string::npos) << r.out;
    EXPECT_EQ(entries(folder.path, "m0"), "m01.eml m04.eml");

    // A reader that cannot undelete: the failure line and exit 1.
    fillFolder(folder, 1);
    o = folderOptions(folder);
    o.receive.remove = o.receive.keepMessages = 1;
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Undeleted message #1\n"), std::string::npos);
    EXPECT_NE(r.err.find("Could not delete message, error= 0"), std::string::npos) << r.err;

    // An output that cannot be synced (the harvest file on a full disk) keeps every message.
    TempFolder full;
    fillFolder(full, 2);
    o = folderOptions(full);
    o.receive.remove = 1;
    o.receive.harvestFile = "/dev/full";
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Message #2 did not reach the disk (/dev/full"), std::string::npos) << r.err;
    EXPECT_EQ(entries(full.path, "m0"), "m01.eml m02.eml");
    // Nor does -seen: record a message whose outputs did not last, -rm or not.
    o.receive.remove = 0;
    o.receive.seenFile = full.file("seen").c_str();
    EXPECT_EQ(runCaptured(o).code, 1);
    EXPECT_EQ(full.read("seen").find("m0"), std::string::npos) << full.read("seen");
}

const char* kWithAttachment =
    "From: a@example.org\r\nTo: b@example.org\r\nSubject: att\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
    "--B\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
    "--B\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\n"
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=\r\n--B--\r\n";

TEST(ReceiveDriver, ExtractionWritesPartsAndAMissingFolderKeepsTheMessage) {
    TempFolder folder;
    folder.put("m01.eml", kWithAttachment);
    mkdir(folder.file("out").c_str(), 0700);
    ReceiveOptions o = folderOptions(folder);
    o.receive.extract = 1;
    o.receive.extractFolder = folder.file("out").c_str();
    o.receive.remove = 1;
    o.tools.quiet = 1;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;
    std::string bytes = folder.read("out/data.bin");
    ASSERT_EQ(bytes.size(), 32u);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(bytes[i], static_cast<char>(i));
    EXPECT_EQ(entries(folder.path, "m0"), "");

    // A message file is read to its end before it goes; it is never dot-stuffed: a lone "."
    // in the text, an attachment behind it.
    folder.put("m01.eml", "Subject: saved\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                          "--b\r\n\r\nfirst\r\n.\r\nsecond\r\n"
                          "--b\r\nContent-Type: application/x-y; name=after.bin\r\n\r\nAFTER\r\n--b--\r\n");
    o.tools.quiet = 0;
    r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("first\r\n.\r\nsecond"), std::string::npos) << r.out;
    EXPECT_EQ(folder.read("out/after.bin"), "AFTER");
    EXPECT_EQ(entries(folder.path, "m0"), "");

    // A folder that does not exist: nothing written, the message stays, exit 1.
    folder.put("m01.eml", kWithAttachment);
    o.receive.extractFolder = folder.file("nowhere").c_str();
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(entries(folder.path, "m0"), "m01.eml");
    EXPECT_NE(r.err.find("message #1"), std::string::npos) << r.err;
}

// A message file goes whole into the Maildir (made with tmp/, new/ and cur/) and the mbox file
// (its "From " line names the Return-Path), as the reader takes it: ".." loses a dot, a lone "."
// is text but as the last line, CR LF becomes LF; only then does the file go. A Maildir that
// cannot be made keeps the message.
TEST(ReceiveDriver, MaildirAndMboxFileTakeEachMessageWhole) {
    TempFolder folder;
    folder.put("m01.eml", "Return-Path: <bounce@example.org>\r\nFrom: a@example.org\r\nSubject: whole\r\n\r\n"
                          "one\r\n.\r\n..two\r\nFrom here\r\n.\r\n");
    ReceiveOptions o = folderOptions(folder);
    o.receive.maildir = folder.file("md").c_str();
    o.receive.mboxFile = folder.file("mbox").c_str();
    o.receive.remove = 1;
    o.tools.quiet = 1;
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string text = "Return-Path: <bounce@example.org>\nFrom: a@example.org\nSubject: whole\n\none\n.\n.two\nFrom here\n";
    std::string names = entries(folder.file("md/new"), "");
    ASSERT_EQ(names.find(' '), std::string::npos) << names;
    EXPECT_EQ(folder.read("md/new/" + names), text);
    EXPECT_EQ(entries(folder.file("md"), ""), "cur new tmp");
    EXPECT_EQ(entries(folder.file("md/tmp"), ""), "");
    const std::string mbox = folder.read("mbox");
    EXPECT_EQ(mbox.compare(0, 24, "From bounce@example.org "), 0) << mbox;  // the envelope sender
    EXPECT_EQ(mbox.substr(mbox.find('\n') + 1), text.substr(0, text.size() - 10) + ">From here\n\n");
    EXPECT_EQ(entries(folder.path, "m0"), "");

    folder.put("m01.eml", kWithAttachment);
    o.receive.maildir = folder.file("mbox/md").c_str();
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("Could not open the Maildir"), std::string::npos) << r.err;
    EXPECT_EQ(entries(folder.path, "m0"), "m01.eml");
}

TEST(ReceiveDriver, CredentialAndConnectFailures) {
    TempFolder folder;
    ReceiveOptions o = folderOptions(folder);
    o.receive.user = "";
    Outcome r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Missing userid\n");

    o.receive.user = "someone";
    o.receive.password = "";
    o.tools.logFile = "log.txt";  // no prompt with a log file
    r = runCaptured(o);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Missing password\n");

    o.receive.password = "";
    o.receive.preauthenticated = 1;
    FileMailboxReader certified;
    certified.setConnectionOptions({.certificateFile = "client.pem"});  // in place of a password
    r = runCaptured(o, certified);
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
    ReceiveOptions o = pop3Options();

    // Login refused: both lines, exit 1, and still QUIT.
    ScriptedSocket<Pop3Reader> refused("+OK ready\r\n+OK\r\n-ERR invalid password\r\n+OK bye\r\n");
    Outcome r = runCaptured(o, refused);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Could not log in as 'u' to: 127.0.0.1:110\n-ERR invalid password\r\n");
    EXPECT_EQ(refused.sent, "USER u\r\nPASS p\r\nQUIT\r\n");

    const std::string login = "+OK ready\r\n+OK\r\n+OK in\r\n";
    const std::string two = login + "+OK 2 60\r\n+OK\r\n1 30\r\n2 30\r\n.\r\n";
    // A refused DELE: the failure line, exit 1, QUIT.
    ScriptedSocket<Pop3Reader> deleting(login + "+OK 1 30\r\n+OK\r\n1 30\r\n.\r\n"
                                           "+OK 30\r\nSubject: s\r\n\r\nbody\r\n.\r\n-ERR locked\r\n+OK bye\r\n");
    o.receive.remove = 1;
    o.tools.quiet = 1;
    r = runCaptured(o, deleting);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Could not delete message, error= -1\n");
    EXPECT_NE(deleting.sent.find("RETR 1\r\nDELE 1\r\nQUIT\r\n"), std::string::npos) << deleting.sent;

    // Without PIPELINING (and to a server that knows no CAPA) each RETR waits for its reply
    // (with it they go ahead: ReceiveFaults.BrokenServersEndInBoundedTimeAndKeepMail).
    const std::string message = "+OK 30\r\nSubject: s\r\n\r\n.. body\r\n..\r\n.\r\n";
    ScriptedSocket<Pop3Reader> lockstep(two + "-ERR\r\n" + message + "+OK\r\n" + message + "+OK\r\n+OK bye\r\n");
    r = runCaptured(o, lockstep);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(lockstep.sent.substr(lockstep.sent.find("CAPA")), "CAPA\r\nRETR 1\r\nDELE 1\r\nRETR 2\r\nDELE 2\r\nQUIT\r\n");

    // -rm -br -q deletes without retrieving.
    ScriptedSocket<Pop3Reader> fast(two + "+OK\r\n+OK\r\n+OK bye\r\n");
    o.receive.brief = 1;
    r = runCaptured(o, fast);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(fast.sent.find("RETR"), std::string::npos);
    EXPECT_NE(fast.sent.find("DELE 1\r\nDELE 2\r\nQUIT\r\n"), std::string::npos) << fast.sent;

    // -xit: the count is the exit code, after QUIT.
    ScriptedSocket<Pop3Reader> counting(two + "+OK bye\r\n");
    o = pop3Options();
    o.receive.exitWithCount = 1;
    r = runCaptured(o, counting);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(counting.sent.find("QUIT\r\n"), std::string::npos);
}

TEST(ReceiveDriver, ImapSortAndSearchChooseTheMessagesOrNone) {
    ReceiveOptions o = pop3Options();
    o.receive.imap = 1;
    o.receive.remove = 1;
    o.receive.brief = 1;
    o.tools.quiet = 1;
    const std::string selected = "* OK [CAPABILITY IMAP4rev1 UIDPLUS] hi\r\n1 OK [CAPABILITY IMAP4rev1 UIDPLUS] in\r\n"
                                 "* 2 EXISTS\r\n2 OK [READ-WRITE] done\r\n";
    // A refused search (Dovecot takes no 8-bit text in an atom) chooses no message: nothing is
    // fetched or deleted, the server's line follows the driver's, and the run ends with 1.
    ScriptedSocket<ImapReader> refused(selected + "3 BAD Error in IMAP command UID SEARCH: 8bit data in atom\r\n"
                                                  "4 OK\r\n* BYE\r\n5 OK\r\n");
    o.receive.search = "SUBJECT caf\xc3\xa9";
    Outcome r = runCaptured(o, refused);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "IMAP operation failed\n3 BAD Error in IMAP command UID SEARCH: 8bit data in atom\n");
    EXPECT_EQ(refused.sent.substr(refused.sent.find("3 UID")),
              "3 UID SEARCH SUBJECT caf\xc3\xa9\r\n4 CLOSE\r\n5 LOGOUT\r\n");

    // A server without SORT still searches (no SORT is sent): only the message found is deleted.
    ScriptedSocket<ImapReader> unsorted(selected + "* 1 FETCH (UID 7 RFC822.SIZE 9)\r\n* 2 FETCH (UID 8 RFC822.SIZE 9)\r\n"
                                                   "3 OK\r\n* SEARCH 8\r\n4 OK\r\n5 OK\r\n6 OK\r\n* BYE\r\n7 OK\r\n");
    o.receive.sort = "SUBJECT";
    o.receive.search = "FROM b@example.test";
    r = runCaptured(o, unsorted);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(unsorted.sent.substr(unsorted.sent.find("4 UID")),
              "4 UID SEARCH FROM b@example.test\r\n5 UID STORE 8 +FLAGS (\\Deleted)\r\n6 CLOSE\r\n7 LOGOUT\r\n");
}

TEST(ReceiveDriver, ControlCharactersAreShownOnlyToATerminal) {
    DisplayedHeaders h;
    h.subject = "Hi\x1b]0;owned\x07\x1b[2J\tthere\x7f";
    h.from = "a\rb <a@b>";
    h.to = "t";
    // Into a pipe they pass as they are: ReceiveOutput.NothingIsDeletedWhenStandardOutputFails.
    EXPECT_EQ(formatHeaderLines(h, Labels(), false, false, true),
              "Hi^[]0;owned^G^[[2J\tthere^?\nDate: [unknown]\nFrom: a^Mb <a@b>\nTo: t\n");
    // Decoded texts are converted by the charset of their word for a page or a terminal only.
    EXPECT_EQ(shownText("M\xE4rz", "iso-8859-1", HeaderForm::kBytes), "M\xE4rz");
    EXPECT_EQ(shownText("M\xE4rz", "iso-8859-1", HeaderForm::kUtf8), "M\xC3\xA4rz");
    EXPECT_EQ(shownText("\xC3\xA4", "", HeaderForm::kUtf8), "\xC3\xA4");
}

TEST(ReceiveDriver, PartsBeyondTheLimitMakeTheExtractionFail) {
    // The parser counts the parts it could not keep (ParserTest covers the limit itself);
    // the parts it kept are still written, and the extraction as a whole has failed.
    TempFolder folder;
    mkdir(folder.file("out").c_str(), 0700);
    const std::string p = folder.put("m01.eml", kWithAttachment);
    FileMailboxReader reader;
    ASSERT_EQ(reader.open(p.c_str(), "", nullptr, 0), 1);
    reader.setExtract(1);
    ASSERT_EQ(reader.retrieve(1), 1);
    reader.message().partsDropped = 3;
    ReceiveOptions o = folderOptions(folder);
    o.receive.extractFolder = folder.file("out").c_str();
    testing::internal::CaptureStderr();
    EXPECT_EQ(extractParts(reader, o), kActionFailed);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "3 parts after the first 1 could not be kept for extraction\n");
    EXPECT_EQ(folder.read("out/data.bin").size(), 32u);
}

TEST(ReceiveDriver, ACutTextIsKeptOnTheServer) {
    // LIST says 30 bytes: the body buffer is 1 MiB, and the text is longer.
    const std::string text = "Subject: big\r\n\r\n" + std::string(1 << 20, 'x') + "\r\nlast line\r\n";
    ScriptedSocket<Pop3Reader> pop("+OK ready\r\n+OK\r\n+OK in\r\n+OK 1 30\r\n+OK\r\n1 30\r\n.\r\n"
                                      "+OK\r\n" + text + ".\r\n+OK bye\r\n");
    ReceiveOptions o = pop3Options();
    o.receive.remove = 1;
    Outcome r = runCaptured(o, pop);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("The text of message #1 is larger than 1048576 bytes and was cut; it is kept"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(pop.sent.find("DELE"), std::string::npos) << pop.sent;
    EXPECT_NE(pop.sent.find("QUIT"), std::string::npos);
}

TEST(ReceiveDriver, RelayedTextHasOnlyCrLfLineEnds) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"a\r\nb\r", "a\r\nb\r\n"}, {"\r\r\n\n", "\r\n\r\n\r\n"}, {"", ""}};
    for (const Case& c : cases) {
        std::string out = "x";
        appendWithCrLf(out, c.in, strlen(c.in));
        EXPECT_EQ(out, std::string("x") + c.out) << c.in;
    }

    // A bare CR before "." in a forwarded message would end the data on a server that takes
    // CR for a line end: it reaches the relay as a line end, and the "." line is guarded.
    TempFolder folder;
    folder.put("m01.eml", "From: a@example.org\r\nTo: b@example.org\r\nCc: c@example.org\r\nSubject: s\r\n\r\n"
                          "one\r.\rtwo\n..x\nthree\r\n");
    ReceiveOptions o = folderOptions(folder);
    o.servers.relayHost = "relay.test";
    o.tools.quiet = 1;
    FileMailboxReader reader;
    ScriptedSocket<SmtpSession> relay;
    relay.setReplies("220 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n250 ok\r\n221 bye\r\n");
    Outcome r = runCaptured(o, reader, &relay);
    EXPECT_EQ(r.code, 0) << r.err;
    const std::string& sent = relay.sent;
    size_t data = sent.find("DATA\r\n");
    ASSERT_NE(data, std::string::npos) << sent;
    EXPECT_NE(sent.find("RCPT TO:<b@example.org>\r\nRCPT TO:<c@example.org>\r\nDATA"), std::string::npos) << sent;
    EXPECT_NE(sent.find("\r\n\r\none\r\n..\r\ntwo\r\n..x\r\nthree\r\n", data), std::string::npos) << sent;
    for (size_t i = data; i < sent.size(); ++i) {
        if (sent[i] == '\r') {
            EXPECT_EQ(sent[i + 1], '\n') << i;
        } else if (sent[i] == '\n') {
            EXPECT_EQ(sent[i - 1], '\r') << i;
        }
    }
}

// A file that is not there: ReceiveDriver.CredentialAndConnectFailures.
TEST(FileMailboxReader, FolderListingHeaderFetchesDeletionAndClose) {
    TempFolder f;
    f.put("b.eml", "Subject: second\n\ntwo\n");
    f.put("a.eml", "Subject: first\r\n\r\none\r\n");
    f.put("c.txt", "Subject: not matched\n\n");
    FileMailboxReader reader;
    ASSERT_EQ(reader.open(f.path.c_str(), ".eml", nullptr, 0), 1);
    ASSERT_EQ(reader.messageCount(), 2);
    ASSERT_EQ(reader.retrieve(1), 1);
    EXPECT_EQ(reader.subject(), "first");
    EXPECT_STREQ(reader.body(), "one\r\n");
    ASSERT_EQ(reader.retrieve(2), 1);
    EXPECT_EQ(reader.subject(), "second");
    EXPECT_STREQ(reader.body(), "two\n");  // LF files keep their line ends
    EXPECT_EQ(reader.deleteMessage(2), 1);
    struct stat st;
    EXPECT_NE(stat((f.path + "/b.eml").c_str(), &st), 0);
    EXPECT_EQ(reader.deleteMessage(2), 0);  // already gone
    EXPECT_EQ(reader.deleteMessage(3), -1);

    FileMailboxReader all;  // a folder without a pattern: every file
    ASSERT_EQ(all.open(f.path.c_str(), "", nullptr, 0), 1);
    EXPECT_EQ(all.messageCount(), 2);

    // A header fetch keeps one body line, as TOP n 1 gives it, and extracts nothing.
    std::string p = f.put("m.eml",
                          "Subject: s\nContent-Type: multipart/mixed; boundary=x\n\n--x\n"
                          "Content-Type: application/octet-stream; name=a.bin\n\ndata\n--x--\n");
    FileMailboxReader single;
    ASSERT_EQ(single.open(p.c_str(), "", nullptr, 0), 1);
    single.setExtract(1);
    ASSERT_EQ(single.retrieveHeader(1), 1);
    EXPECT_EQ(single.extract(), 1);
    EXPECT_EQ(single.headerOnly(), 0);
    EXPECT_EQ(single.partCount(), 0);  // no extraction while fetching the header
    EXPECT_STREQ(single.body(), "--x\n");

    // A header fetch of a file with a large attachment still keeps just that line.
    std::string big = "Subject: big\n\nfirst line\n" + std::string(3 << 20, 'A') + "\n";
    FileMailboxReader large;
    ASSERT_EQ(large.open(f.put("big.eml", big).c_str(), "", nullptr, 0), 1);
    ASSERT_EQ(large.retrieveHeader(1), 1);
    EXPECT_STREQ(large.body(), "first line\n");
    std::string longLine = "Subject: long\n\n" + std::string(3 << 20, 'B');
    ASSERT_EQ(large.open(f.put("long.eml", longLine).c_str(), "", nullptr, 0), 1);
    ASSERT_EQ(large.retrieveHeader(1), 1);
    EXPECT_EQ(large.bodyLength(), 64u << 10);  // a first line without an end is cut
    ASSERT_EQ(single.retrieve(1), 1);
    EXPECT_EQ(single.partCount(), 1);
    EXPECT_EQ(single.currentFlags(), "\\Seen");
    single.setKeepOpen(1);
    EXPECT_EQ(single.MailboxReader::close(), 1);
    EXPECT_EQ(single.subject(), "[no subject]");
    EXPECT_EQ(single.partCount(), 0);
    EXPECT_STREQ(single.body(), "");
}

} // namespace
} // namespace qarvel
