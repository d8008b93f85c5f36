// The system's sendmail end to end: its command line, the dialogue with the relay its
// configuration names (the envelope from -f, the recipients through the aliases, the text as
// written), and what a refusal or a relay that says "later" leaves: the exit status by cause
// and the message in dead.letter.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"

namespace qarvel::test {
namespace {

// A home folder with a configuration for the relay on port.
ProgramOptions homeWithRelay(const TempFolder& home, const std::string& port, const std::string& input) {
    ::mkdir(home.file(".config").c_str(), 0700);
    ::mkdir(home.file(".config/qarvel").c_str(), 0700);
    home.put("aliases", "root: ops@x.org, audit\n");
    home.put(".config/qarvel/qarvel.txt", "SMTP_HOST 127.0.0.1\nSMTP_PORT " + port +
                                              "\nDOMAIN example.org\nALIASES " + home.file("aliases") + "\n");
    ProgramOptions o;
    o.input = input;
    o.env = {{"HOME", home.path}};
    return o;
}

TEST(SendmailRun, CommandLinesItTakesAndRefuses) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* out;
        const char* err;
    } cases[] = {
        {{"-sendmail", "-bp"}, 0, "Mail queue is empty\n", ""},
        {{"-sendmail", "-q"}, 64, "", "sendmail: -q is not offered (qarvel sends one message from standard input)\n"},
        {{"-sendmail", "--help"}, 64, "", "sendmail: --help is not offered (qarvel sends one message from standard input)\n"},
        {{"-sendmail", "-oi"}, 64, "", "sendmail: no recipient: name them as arguments, or give -t\n"},
        {{"-sendmail", "-bs"}, 64, "", "sendmail: -bs is not offered: qarvel hands one message to its relay (-bm) and keeps no queue (-bp)\n"},
        {{"-sendmail", "-i", "-f"}, 64, "", "sendmail: -f needs a value\n"},
        {{"-sendmail", "-F", "Eve\nBcc: x@y.org", "x@y.org"}, 64, "", "sendmail: -F holds a line break\n"},
    };
    for (const auto& c : cases) {
        ProgramResult r = runQarvel(c.args);
        EXPECT_EQ(r.exitCode, c.status) << c.args.back();
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(SendmailRun, RelayGetsTheEnvelopeAndTheTextAsWritten) {
    ScriptedServer server({send("220 relay.test ESMTP\r\n"), expect("EHLO"), send("250 relay.test\r\n"),
                           expect("MAIL FROM:<cron@example.org>"), send("250 ok\r\n"),
                           expect("RCPT TO:<ops@x.org>"), send("250 ok\r\n"),
                           expect("RCPT TO:<audit@example.org>"), send("250 ok\r\n"),
                           expect("RCPT TO:<ann@y.org>"), send("250 ok\r\n"),
                           expect("DATA"), send("354 go\r\n"), expectUntil(".\r\n"), send("250 queued\r\n"),
                           expect("QUIT"), send("221 bye\r\n")});
    TempFolder home;
    ProgramOptions o = homeWithRelay(home, server.portText(), "Subject: s\nBcc: ann@y.org\n\n.\n..two\n");
    ProgramResult r = runQarvel({"-sendmail", "-FCron Daemon", "-i", "-fcron", "-t", "--", "root"}, o);
    const std::string sent = server.finish();
    EXPECT_EQ(server.error(), "");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_NE(sent.find("\r\nSubject: s\r\nFrom: Cron Daemon <cron@example.org>\r\nDate: "), std::string::npos) << sent;
    EXPECT_NE(sent.find("\r\n\r\n..\r\n...two\r\n"), std::string::npos) << sent;
    EXPECT_EQ(sent.find("Bcc"), std::string::npos);
    EXPECT_EQ(home.read("dead.letter"), "");
}

TEST(SendmailRun, WhatIsNotTakenIsKeptWithTheStatusOfItsCause) {
    const struct {
        const char* refusedCommand;
        const char* reply;
        int status;
    } cases[] = {
        {"RCPT", "550 5.1.1 no such user\r\n", 69},
        {"MAIL", "451 4.3.0 try again later\r\n", 75},
    };
    for (const auto& c : cases) {
        std::vector<ScriptStep> script = {send("220 relay.test ESMTP\r\n"), expect("EHLO"), send("250 relay.test\r\n"),
                                          expect("MAIL"), send(c.refusedCommand == std::string("MAIL") ? c.reply : "250 ok\r\n")};
        if (c.refusedCommand == std::string("RCPT")) script.insert(script.end(), {expect("RCPT"), send(c.reply)});
        script.insert(script.end(), {expect("QUIT"), send("221 bye\r\n")});
        ScriptedServer server(script);
        TempFolder home;
        ProgramResult r = runQarvel({"-sendmail", "ann@y.org"}, homeWithRelay(home, server.portText(), "Subject: kept\n\nbody\n"));
        server.finish();
        EXPECT_EQ(r.exitCode, c.status) << r.err;
        EXPECT_NE(r.err.find(std::string(c.reply, 3)), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(home.file("dead.letter")), std::string::npos) << r.err;
        const std::string kept = home.read("dead.letter");
        EXPECT_EQ(kept.rfind("From ", 0), 0u) << kept;
        EXPECT_LT(kept.find("@example.org "), kept.find('\n')) << kept;
        EXPECT_NE(kept.find("\nSubject: kept\n"), std::string::npos) << kept;
    }
}

} // namespace
} // namespace qarvel::test
