#include "config/secret_sources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config_file.h"
#include "config/process.h"
#include "config/settings.h"
#include "support/run_program.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::TempFolder;

std::string complaintFor(const std::string& path, mode_t mode) {
    chmod(path.c_str(), mode);
    int fd = open(path.c_str(), O_RDONLY);
    std::string complaint = secretFileComplaint(fd, path).str();
    close(fd);
    return complaint;
}

// The owner alone may use a secret file; the complaint names the file and its mode, and a
// configuration file with PASS or BINDPWD that breaks the rule is not applied at all.
TEST(SecretFiles, ModeRuleForSecretAndConfigurationFiles) {
    TempFolder folder;
    const std::string path = folder.put("secret", "x\n");
    EXPECT_EQ(complaintFor(path, 0600), "");
    EXPECT_EQ(complaintFor(path, 0400), "");
    for (mode_t open : {0640, 0604, 0620, 0601}) {
        std::string complaint = complaintFor(path, open);
        EXPECT_NE(complaint.find("'" + path + "'"), std::string::npos) << complaint;
        char mode[8];
        std::snprintf(mode, sizeof mode, "0%o", open);
        EXPECT_NE(complaint.find(std::string("(mode ") + mode + ")"), std::string::npos) << complaint;
    }

    Settings s;
    ProcessObjects objects;
    resetSettings(s, true);
    std::FILE* sink = std::fopen("/dev/null", "w");
    for (const char* secretLine : {"PASS geheim\n", "bindpwd geheim\n"}) {
        const std::string config = folder.put("qarvel.txt", std::string("SMTP_HOST config.example\n") + secretLine);
        chmod(config.c_str(), 0644);
        EXPECT_EQ(readConfigMain(config, s, objects, sink), -1) << secretLine;
        EXPECT_EQ(s.servers.smtpHost, "localhost");
        chmod(config.c_str(), 0600);
        EXPECT_EQ(readConfigMain(config, s, objects, sink), 1);
        EXPECT_EQ(s.servers.smtpHost, "config.example");
        s.servers.smtpHost = "localhost";
    }
    // Without a secret the mode is the user's business; PASSCMD names a command, not a secret.
    const std::string plain = folder.put("plain.txt", "SMTP_HOST plain.example\nPASSCMD pass show mail\n");
    chmod(plain.c_str(), 0644);
    EXPECT_EQ(readConfigMain(plain, s, objects, sink), 1);
    EXPECT_EQ(s.receive.passwordCommand, "pass show mail");
    EXPECT_EQ(readConfigMain(folder.file("none.txt"), s, objects, sink), 0);
    std::fclose(sink);
}

TEST(SecretSources, NetrcEntries) {
    const char* text =
        "# comment lines are words too, but never the keywords\n"
        "machine other.example login alice password other\n"
        "macdef init\nmachine mail.example password fake\n\n"
        "machine mail.example login bob password bobs\n"
        "machine mail.example\n  login alice\n  password \"with blank\"\n"
        "default login anon password guest\n";
    NetrcLogin l = netrcLookup(text, "mail.example", "alice");
    EXPECT_TRUE(l.found);
    EXPECT_EQ(l.password, "with blank");
    EXPECT_EQ(netrcLookup(text, "mail.example", "bob").password, "bobs");
    // No machine entry fits: the default one, if its login fits.
    EXPECT_EQ(netrcLookup(text, "unknown.example", "anon").password, "guest");
    EXPECT_FALSE(netrcLookup(text, "unknown.example", "carol").found);
    EXPECT_FALSE(netrcLookup("machine", "machine", "").found);
    EXPECT_FALSE(netrcLookup("", "mail.example", "alice").found);
}

// Sources in their order: the command (first line of its output) or file named last, else the
// environment, else ~/.netrc; a failing or silent command ends the run.
TEST(SecretSources, PrecedenceAndFailures) {
    TempFolder folder;
    Settings s;
    resetSettings(s, true);
    std::FILE* sink = std::fopen("/dev/null", "w");
    s.receive.user = "alice";
    s.receive.passwordCommand = "printf 'first\\nsecond\\n'";
    ASSERT_TRUE(resolvePassword(s, "mail.example", sink));
    EXPECT_EQ(s.receive.password, "first");
    for (const char* failing : {"exit 3", "true", "printf '\\n'"}) {
        s.receive.passwordCommand = failing;
        EXPECT_FALSE(resolvePassword(s, "mail.example", sink)) << failing;
    }
    s.receive.passwordCommand = String();
    s.receive.passwordFile = folder.put("pw", "from-file\r\nrest\n");
    chmod(s.receive.passwordFile.c_str(), 0600);
    ASSERT_TRUE(resolvePassword(s, "mail.example", sink));
    EXPECT_EQ(s.receive.password, "from-file");
    chmod(s.receive.passwordFile.c_str(), 0644);
    EXPECT_FALSE(resolvePassword(s, "mail.example", sink));
    s.receive.passwordFile = folder.file("missing");
    EXPECT_FALSE(resolvePassword(s, "mail.example", sink));
    s.receive.passwordFile = String();

    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", folder.path.c_str(), 1);
    const std::string netrc = folder.put(".netrc", "machine mail.example login alice password from-netrc\n");
    chmod(netrc.c_str(), 0600);
    s.receive.password = String();
    setenv("QARVEL_PASSWORD", "from-env", 1);
    ASSERT_TRUE(resolvePassword(s, "mail.example", sink));
    EXPECT_EQ(s.receive.password, "from-env");
    unsetenv("QARVEL_PASSWORD");
    s.receive.password = String();
    ASSERT_TRUE(resolvePassword(s, "mail.example", sink));
    EXPECT_EQ(s.receive.password, "from-netrc");
    s.receive.password = "given";  // a given password is kept
    ASSERT_TRUE(resolvePassword(s, "mail.example", sink));
    EXPECT_EQ(s.receive.password, "given");
    chmod(netrc.c_str(), 0644);
    s.receive.password = String();
    EXPECT_FALSE(resolvePassword(s, "mail.example", sink));
    setenv("HOME", savedHome.c_str(), 1);
    std::fclose(sink);
}

// The run's own refusals come before any connection and end it with exit 1.
TEST(SecretSources, RunRefusesBeforeConnecting) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"-user:u", "-passcmd:exit 4"}, "Password command failed with exit status 4: exit 4\n"},
        {{"-user:u", "-pass:x", "-requiretls"}, "The password for '127.0.0.1' would travel without TLS"},
        {{"-user:u", "-pass:t", "-auth:oauthbearer"}, "An OAuth2 token is never sent without TLS"},
        {{"-user:u", "-pass:t", "-auth:xoauth2", "-tls", "-imap", "-from:a@x.org", "-msg:m"}, "OAuth2 login"},
        {{"-user:u", "-pass:t", "-auth:kerberos", "-tls"}, "Unknown login mechanism 'kerberos'"},
        {{"-config:/no/such/qarvel.txt", "-noop"}, "Could not read configuration file '/no/such/qarvel.txt'"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"-host:127.0.0.1", "-port:1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        test::ProgramResult r = test::runQarvel(args);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.message << "\n" << r.err;
        EXPECT_EQ(r.out.find("connect"), std::string::npos) << r.out;
        EXPECT_EQ(r.exitCode, c.args.back() == "-noop" ? 0 : 1) << c.message;
    }
    // The dump shows that a secret is set, never the secret.
    test::ProgramOptions options;
    options.env = {{"QARVEL_DUMP_SETTINGS", "1"}};
    test::ProgramResult r = test::runQarvel({"-noop", "-pass:Geheim42", "-user:u"}, options);
    EXPECT_EQ(r.err.find("Geheim42"), std::string::npos);
    EXPECT_NE(r.err.find("receive.password=\"***\""), std::string::npos);
}

} // namespace
} // namespace qarvel
