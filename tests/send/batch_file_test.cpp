// Batch message files: the keyword layout and the Internet-message layout as the reader cuts
// them, a whole batch run into a file and a strict one over a scripted SMTP session that refuses
// one message, in which a bad message is reported and the others still go out.
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "send/batch_file.h"
#include "send/batch_sender.h"
#include "send/smtp_session.h"
#include "support/has_text.h"
#include "support/run_program.h"
#include "support/scripted_socket.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace qarvel {
namespace {

using test::has;

using test::ProgramOptions;
using test::ProgramResult;
using test::TempFolder;

// Every message with its body taken whole, as the sender would take it piece by piece.
std::vector<BatchMessage> readAll(BatchText& text, BatchLayout layout, bool relay = false,
                                  AddressBook book = {}) {
    BatchFileReader reader(text, layout, relay, std::move(book));
    std::vector<BatchMessage> out;
    BatchMessage m;
    while (reader.next(m)) {
        std::string_view piece;
        bool lineEnds;
        while (reader.bodyPiece(piece, lineEnds)) {
            m.body.append(piece);
            if (lineEnds) m.body += "\r\n";
        }
        if (layout == BatchLayout::kHeaders) m.lastLine = reader.lineNumber();
        out.push_back(m);
    }
    return out;
}

std::vector<BatchMessage> readAll(const std::string& text, BatchLayout layout, bool relay = false,
                                  AddressBook book = {}) {
    BatchText memory(text);
    return readAll(memory, layout, relay, std::move(book));
}

TEST(BatchFile, KeywordLayoutFieldsBodiesAndLineNumbers) {
    const std::string text =
        "from: Ann <ann@x.org>\r\n"
        "TO: bob@y.org; \"Carl C\" <carl@y.org>,  dan@y.org\n"
        "Cc: eve@y.org\n"
        "Bcc: fay@y.org\n"
        "Subject:   Two words   \n"
        "Importance: LOW\n"
        "Organization: The Org\n"
        "X-Unknown: ignored\n"
        "Contents: anything here\n"
        "Hello,\n"
        "File Item:  report.pdf   \n"
        "File Object: logo.png | The Logo  \n"
        "\n"
        "bye\n"
        "Message: next\n"
        "From: gus@x.org\n"
        "To: hal@y.org\n"
        "Contents:\n"
        "second\n";
    std::vector<BatchMessage> all = readAll(text, BatchLayout::kKeywords);
    ASSERT_EQ(all.size(), 2u);
    const BatchMessage& a = all[0];
    EXPECT_EQ(a.from.str(), "Ann <ann@x.org>");
    EXPECT_EQ(a.to.str(), "bob@y.org,\"Carl C\" <carl@y.org>,dan@y.org");
    EXPECT_EQ(a.cc.str(), "eve@y.org");
    EXPECT_EQ(a.bcc.str(), "fay@y.org");
    EXPECT_EQ(a.subject.str(), "Two words");
    EXPECT_EQ(importancePriority(a.importance), 2);
    EXPECT_EQ(a.organization.str(), "The Org");
    EXPECT_EQ(a.body, "Hello,\r\n\r\nbye\r\n");
    ASSERT_EQ(a.attachments.size(), 2u);
    EXPECT_EQ(a.attachments[0].file.str(), "report.pdf");
    EXPECT_EQ(a.attachments[0].name.str(), "");
    EXPECT_FALSE(a.attachments[0].related);
    EXPECT_EQ(a.attachments[1].file.str(), "logo.png");
    EXPECT_EQ(a.attachments[1].name.str(), "The Logo");
    EXPECT_TRUE(a.attachments[1].related);
    EXPECT_EQ(a.lastLine, 15);
    EXPECT_EQ(all[1].to.str(), "hal@y.org");
    EXPECT_EQ(all[1].body, "second\r\n");
    EXPECT_EQ(all[1].lastLine, 19);

    // With a relay host only the To list counts.
    std::vector<BatchMessage> relayed = readAll(text, BatchLayout::kKeywords, true);
    EXPECT_EQ(relayed[0].cc.str(), "");
    EXPECT_EQ(relayed[0].bcc.str(), "");

    // A trailing "Message:" line and blank lines after it make no further message.
    EXPECT_EQ(readAll("From: a@x.org\nContents:\nbody\nMessage:\n\n\n", BatchLayout::kKeywords).size(), 1u);
    EXPECT_TRUE(readAll("", BatchLayout::kKeywords).empty());
}

TEST(BatchFile, AliasesAndListFiles) {
    StringList names, values;
    names.add("team");
    values.add("a@x.org,b@x.org");
    names.add("Boss@Y.org");
    values.add("chief@y.org");
    AddressBook book{&names, &values, [](const String& path) { return "list:" + path; }};
    std::vector<BatchMessage> all = readAll(
        "To: TEAM@anywhere.org, boss@y.org, boss@z.org\nTolist: people.txt\nCclist: cc.txt\nContents:\nx\n",
        BatchLayout::kKeywords, false, book);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].to.str(), "a@x.org,b@x.org,chief@y.org,boss@z.org,list:people.txt");
    EXPECT_EQ(all[0].cc.str(), "list:cc.txt");
}

TEST(BatchFile, InternetMessageLayout) {
    const std::string first =
        "From: ann@x.org\r\n"
        "To: bob@y.org,\r\n"
        "\tcarl@y.org\r\n"
        "Cc: dan@y.org\r\n"
        "Subject: one\r\n"
        "\r\n"
        "To: not-a-recipient@y.org\r\n"
        "body\r\n";
    const std::string text = first + ".\r\nFrom: eve@x.org\r\nTo: fay@y.org\r\n\r\nsecond\r\n";
    std::vector<BatchMessage> all = readAll(text, BatchLayout::kHeaders);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].to.str(), "bob@y.org,carl@y.org");
    EXPECT_EQ(all[0].cc.str(), "dan@y.org");
    EXPECT_EQ(all[0].body, first);  // the text as it goes out, without the "." line
    EXPECT_EQ(all[1].from.str(), "eve@x.org");
    EXPECT_EQ(all[1].body, "From: eve@x.org\r\nTo: fay@y.org\r\n\r\nsecond\r\n");
    EXPECT_EQ(all[1].lastLine, 13);
}

// Files are read in blocks: line ends of every kind (a CR LF split across two blocks, a lone
// CR, a file without a final line end before the next file), a line longer than a block, and
// no message left over from the "." line.
TEST(BatchFile, InternetMessagesFromFilesReadInBlocks) {
    const size_t kBlock = 64 * 1024;
    std::string first = "To: bob@y.org\r\n\r\n";
    first += std::string(kBlock - first.size() - 1, 'a') + "\r\n";  // its CR LF spans two blocks
    std::string longLine(3 * kBlock + 5, 'b');
    first += "mac\rline\n" + longLine + "\n.\nTo: carl@y.org\n\nno final line end";
    const std::string second = "\nsame line\n.\n\n";
    TempFolder tmp;
    tmp.put("one.txt", first);
    tmp.put("two.txt", second);
    std::FILE* one = std::fopen(tmp.file("one.txt").c_str(), "rb");
    std::FILE* two = std::fopen(tmp.file("two.txt").c_str(), "rb");
    ASSERT_TRUE(one && two);
    BatchText files({one, two});
    std::vector<BatchMessage> all = readAll(files, BatchLayout::kHeaders);
    std::fclose(one);
    std::fclose(two);
    EXPECT_FALSE(files.failed());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].to.str(), "bob@y.org");
    EXPECT_EQ(all[0].body, "To: bob@y.org\r\n\r\n" + std::string(kBlock - 18, 'a') +
                               "\r\nmac\r\nline\r\n" + longLine + "\r\n");
    EXPECT_EQ(all[0].lastLine, 7);
    EXPECT_EQ(all[1].to.str(), "carl@y.org");
    EXPECT_EQ(all[1].body, "To: carl@y.org\r\n\r\nno final line end\r\n\r\nsame line\r\n");
    EXPECT_EQ(all[1].lastLine, 13);
}

TEST(BatchFile, ImportancePriorities) {
    struct Row {
        const char* value;
        int priority;
    } rows[] = {{"High", 1}, {"low", 2}, {"NORMAL", 3}, {"urgent", 0}, {"", 0}, {"Highest", 0}};
    for (const Row& r : rows) EXPECT_EQ(importancePriority(r.value), r.priority) << r.value;
}

// ------------------------------------------------------------------ whole runs

ProgramResult run(const std::string& binary, const std::vector<std::string>& args) {
    ProgramOptions options;
    options.timeLimitSeconds = 60;
    ProgramResult r = test::runProgram(binary, args, options);
    EXPECT_FALSE(r.timedOut);
    return r;
}

TEST(BatchRun, ABadMessageInTheMiddleIsReportedAndTheOthersAreSent) {
    TempFolder tmp;
    tmp.put("logo.txt", "the logo\n");
    std::string batch =
        "From: ann@x.org\nTo: bob@y.org\nCc: cc@y.org\nSubject: first\nContents:\none\nFile Item: " +
        tmp.file("logo.txt") + "\nFile Item: " + tmp.file("missing.bin") +
        "\nMessage:\n"
        "From: ann@x.org\nSubject: no recipient\nContents:\ntwo\nMessage:\n"
        "From: ann@x.org\nTo: bob@y.org\nSubject: empty\nContents:\nMessage:\n"
        "To: bob@y.org\nSubject: no sender\nContents:\nfour\nMessage:\n"
        "From: ann@x.org\nTo: carl@y.org\nSubject: last\nImportance: high\nContents:\nfive\n";
    tmp.put("batch.txt", batch);
    ProgramResult r = run(test::qarvelBinary(), {"-import", "-mf", "-host:" + tmp.file("out.txt"),
                                          "-file:" + tmp.file("batch.txt"), "-ns"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::linesOf(r.err), (std::vector<std::string>{
                          "WARNING: attachment '" + tmp.file("missing.bin") + "' does not exist! (2)",
                          "Missing to address, line: 14",
                          "Missing message body, line: 19",
                          "Missing from address, line: 24",
                      }));
    std::string out = tmp.read("out.txt");
    EXPECT_EQ(test::countOf(out, "From: ann@x.org\r\n"), 2u);
    EXPECT_TRUE(has(out, "Subject: first"));
    EXPECT_TRUE(has(out, "Cc: cc@y.org"));
    EXPECT_TRUE(has(out, "the logo"));
    EXPECT_TRUE(has(out, "Subject: last"));
    EXPECT_TRUE(has(out, "Importance: High"));
    EXPECT_EQ(test::countOf(r.out, "Sent "), 2u);

    // Recipients from the command line replace every message's, and the Cc lines go.
    r = run(test::qarvelBinary(), {"-import", "-mf", "-host:" + tmp.file("out2.txt"),
                            "-file:" + tmp.file("batch.txt"), "-ns", "-to:zed@z.org"});
    out = tmp.read("out2.txt");
    EXPECT_EQ(test::countOf(out, "To: zed@z.org"), 3u);  // the one without a sender is still skipped
    EXPECT_FALSE(has(out, "cc@y.org"));
}

// Under -strict one message that did not go out is enough to fail the batch, after the others
// went: a refused one, or one with no recipient at all, which never reaches the server (it is
// reported with the line it ends on), while a Bcc line alone names one. Each text goes out as
// written.
TEST(BatchRun, StrictFailsOnOneMessageAndTakesABccAlone) {
    const std::string blind = "From: a@x.org\nBcc: gil@y.org\nSubject: blind\n\nbody\n..x\n";
    const std::string sendsBlind = "250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n";
    struct Case {
        std::string first, replies, message;
    } cases[] = {
        {"From: a@x.org\nTo: nobody@y.org\nSubject: refused\n\nbody\n.\n",
         "250 ok\r\n550 no such user\r\n250 reset\r\n" + sendsBlind, "Status: 550 no such user\n"},
        {"From: a@x.org\nSubject: nobody at all\n\nbody\n.\n", sendsBlind, "Missing to address, line: 5\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        ScriptedSocket<SmtpSession> s("220 x\r\n250 ok\r\n" + c.replies);
        ASSERT_EQ(s.connectSession("h", String()), 1);
        s.style().raw = true;  // as -t sets it
        const std::string batch = c.first + blind;
        BatchText text{std::string_view(batch)};
        BatchOptions o;
        o.layout = BatchLayout::kHeaders;
        o.send.tools.strict = true;
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        EXPECT_EQ(runBatch(s, text, o), 0);
        testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(has(err, c.message));
        EXPECT_EQ(err.find("Missing to address") != std::string::npos, c.message.starts_with("Missing")) << err;
        EXPECT_FALSE(has(s.sent, "nobody at all"));
        EXPECT_TRUE(has(s.sent, "RCPT TO:<gil@y.org>\r\nDATA\r\n"));
        EXPECT_TRUE(has(s.sent, "\r\nFrom: a@x.org\r\nBcc: gil@y.org\r\nSubject: blind\r\n\r\nbody\r\n..x\r\n"));
    }
}

// With PIPELINING each message's envelope leaves in the same write as the final "." of the one
// before, and every reply is still read in order: the data end of message 2 of 3 is refused, and
// only message 2 fails.
TEST(BatchRun, PipelinedEnvelopeGoesWithTheFinalDotBefore) {
    const std::string group = "250 reset\r\n250 ok\r\n250 ok\r\n354 go\r\n";
    ScriptedSocket<SmtpSession> s("220 x\r\n250-x\r\n250 PIPELINING\r\n250 ok\r\n250 ok\r\n354 go\r\n250 queued\r\n" +
                                  group + "554 rejected\r\n" + group + "250 queued\r\n");
    s.setEsmtp(1);
    ASSERT_EQ(s.connectSession("h", String()), 1);
    s.style().raw = true;
    std::string batch;
    for (const char* to : {"one", "two", "three"})
        batch += std::string(batch.empty() ? "" : ".\n") + "From: a@x.org\nTo: " + to + "@y.org\n\nbody\n";
    BatchText text{std::string_view(batch)};
    BatchOptions o;
    o.layout = BatchLayout::kHeaders;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(runBatch(s, text, o), 2);
    const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(test::countOf(out, "Sent "), 2u) << out;
    EXPECT_TRUE(has(out, "to 'one@y.org'"));
    EXPECT_TRUE(has(out, "to 'three@y.org'"));
    EXPECT_TRUE(has(err, "Status: 554 rejected"));
    // What had gone out when the reply to each final "." was read (the greeting and EHLO take
    // three reads, each envelope four).
    for (auto [read, next] : {std::pair{6, "two"}, {11, "three"}}) {
        const std::string atDot = s.sent.substr(0, s.sentAtRead.at(read));
        EXPECT_TRUE(atDot.ends_with(std::string("\r\n.\r\nRSET\r\nMAIL FROM:<a@x.org>\r\nRCPT TO:<") + next +
                                    "@y.org>\r\nDATA\r\n"))
            << atDot;
    }
    EXPECT_TRUE(s.sent.substr(0, s.sentAtRead.at(16)).ends_with("body\r\n\r\n.\r\n"));
}

} // namespace
} // namespace qarvel
