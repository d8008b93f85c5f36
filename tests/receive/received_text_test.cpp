// Text taken from a received message (decoded encoded words that hold CR LF) answered with a
// read receipt, sent on with -relay: and written to the -harvest: file: it never becomes a
// header line, an SMTP command or a second harvest line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

const char kHostileMessage[] =
    "From: =?utf-8?Q?Eve_=0D=0ABcc:_victim@x.org?= <eve@x.org>\r\n"
    "To: me@x.org\r\n"
    "Reply-To: =?utf-8?Q?eve@x.org=0D=0ARSET?=\r\n"
    "Subject: =?utf-8?Q?hi=0D=0ABcc:_victim@x.org?=\r\n"
    "Disposition-Notification-To: =?utf-8?Q?eve@x.org=0D=0ARSET?=\r\n"
    "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
    "\r\n"
    "body\r\n";

std::vector<ScriptStep> smtpDialogue() {
    return {send("220 x\r\n"), expect("HELO"), send("250 ok\r\n"),  expect("MAIL"),
            send("250 ok\r\n"), expect("RCPT"), send("250 ok\r\n"),  expect("DATA"),
            send("354 go\r\n"), expectUntil("."), send("250 ok\r\n"), expect("QUIT"),
            send("221 bye\r\n")};
}

// The lines the client sent, without their CR LF.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

// No line of the dialogue starts a command or a header field that the message smuggled in.
void expectNothingSmuggled(const std::string& dialogue) {
    int rcpt = 0;
    for (const std::string& line : linesOf(dialogue)) {
        EXPECT_NE(line.rfind("RSET", 0), 0u) << dialogue;
        EXPECT_NE(line.rfind("Bcc:", 0), 0u) << dialogue;
        rcpt += line.rfind("RCPT", 0) == 0;
    }
    EXPECT_EQ(rcpt, 1) << dialogue;
}

TEST(ReceivedText, ReadReceiptAndHarvestKeepValuesOnTheirLine) {
    for (const char* mode : {"-mdn", "-receipt"}) {
        TempFolder folder;
        const std::string message = folder.put("m.eml", kHostileMessage);
        ScriptedServer server(smtpDialogue());
        ASSERT_TRUE(server.listening());
        ProgramResult r = runQarvel({"-mail", "-file:" + message, "-host:127.0.0.1", "-port:" + server.portText(),
                                     mode, "-harvest:" + folder.file("h.txt"), "-tmo:10"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const std::string dialogue = server.finish();
        EXPECT_EQ(server.error(), "") << dialogue;
        expectNothingSmuggled(dialogue);
        EXPECT_NE(dialogue.find("\r\nSubject: Read: hi  Bcc: victim@x.org (RECEIPT)\r\n"), std::string::npos)
            << dialogue;
        const std::string harvest = folder.read("h.txt");
        EXPECT_EQ(linesOf(harvest).size(), 1u) << harvest;
        EXPECT_NE(harvest.find("victim@x.org"), std::string::npos) << harvest;  // kept, on one line
    }
}

TEST(ReceivedText, ForwardedCopyKeepsValuesOnTheirLine) {
    TempFolder folder;
    const std::string message = folder.put("m.eml", kHostileMessage);
    ScriptedServer server(smtpDialogue());
    ASSERT_TRUE(server.listening());
    ProgramResult r = runQarvel({"-mail", "-file:" + message, "-relay:127.0.0.1", "-port:" + server.portText(),
                                 "-q", "-tmo:10"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string dialogue = server.finish();
    EXPECT_EQ(server.error(), "") << dialogue;
    expectNothingSmuggled(dialogue);
    EXPECT_NE(dialogue.find("\r\nbody\r\n"), std::string::npos) << dialogue;
}

}  // namespace
}  // namespace qarvel::test
