// The help text and the manual page against the option and key tables: none may miss an
// option or key the program takes, nor name one it does not.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/run_failure.h"
#include "config/command_line.h"
#include "config/config_file.h"
#include "config/help_text.h"
#include "qarvel_version.h"
#include "support/run_program.h"

namespace qarvel::test {
namespace {

std::vector<std::string> words(const char* text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::set<std::string> tableKeys() {
    std::set<std::string> keys;
    for (std::string key : configKeyNames()) {
        while (!key.empty() && key.back() == ' ') key.pop_back();  // "A " and its kin
        keys.insert(key);
    }
    return keys;
}

// Each name of the table has a help row, and each name of a help row is in the table.
void expectSameNames(const std::set<std::string>& table, std::span<const HelpLine> help, const char* what) {
    std::set<std::string> helped;
    for (const HelpLine& line : help)
        for (const std::string& name : words(line.names)) {
            EXPECT_TRUE(table.count(name)) << "the help names " << what << " " << name << ", which does not exist";
            EXPECT_TRUE(helped.insert(name).second) << name << " has two help lines";
        }
    for (const std::string& name : table)
        EXPECT_TRUE(helped.count(name)) << what << " " << name << " has no help line in src/run/help_text.cpp";
}

TEST(HelpText, EveryOptionAndKeyHasItsLineAndNoOther) {
    std::vector<std::string> names = optionNames();
    std::set<std::string> options(names.begin(), names.end());
    options.insert({"--help", "-h", "--version", "-sendmail"});
    expectSameNames(options, optionHelp(), "option");
    expectSameNames(tableKeys(), keyHelp(), "key");
}

// The manual page writes every option and key in bold (*-to:*, *SMTP\_HOST*) where it
// describes it, and its EXIT STATUS section names every status of the table of failure causes.
TEST(HelpText, ManualPageDescribesEveryOptionKeyAndExitStatus) {
    std::ifstream in(std::string(QARVEL_SOURCE_DIR) + "/docs/qarvel.1.scd");
    ASSERT_TRUE(in);
    std::string page, raw(std::istreambuf_iterator<char>(in), {});
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size() && (raw[i + 1] == '_' || raw[i + 1] == '-')) ++i;
        page += raw[i];
    }
    std::vector<std::string> names = optionNames();
    names.insert(names.end(), {"--help", "-h", "--version", "-sendmail"});
    for (const std::string& key : tableKeys()) names.push_back(key);
    for (const std::string& name : names)
        EXPECT_NE(page.find("*" + name + "*"), std::string::npos) << name << " is missing from docs/qarvel.1.scd";
    const size_t section = page.find("\n# EXIT STATUS\n");
    ASSERT_NE(section, std::string::npos);
    const std::string text = page.substr(section, page.find("\n# ", section + 1) - section);
    for (const FailureStatus& row : failureStatuses())
        EXPECT_NE(text.find("*" + std::to_string(row.status) + "*"), std::string::npos) << row.status;
}

TEST(HelpText, HelpAndVersionAnswerOnStandardOutput) {
    for (const char* ask : {"--help", "-h"}) {
        // Even where the options would fail a run on their own ("Missing from address").
        ProgramResult r = runQarvel({"-to:x@example.org", ask});
        EXPECT_EQ(r.exitCode, 0) << ask;
        EXPECT_EQ(r.err, "");
        EXPECT_NE(r.out.find("\n  -to:ADDR "), std::string::npos);
        EXPECT_NE(r.out.find("\n  SMTP_HOST NAME, QMTP_HOST"), std::string::npos);
        EXPECT_NE(r.out.find("QARVEL_CONFIG"), std::string::npos);
        EXPECT_NE(r.out.find("man qarvel"), std::string::npos);
    }
    ProgramResult r = runQarvel({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind(std::string("qarvel ") + QARVEL_VERSION + "\nTLS: OpenSSL ", 0), 0u) << r.out;
    // A web server's arguments are a request: the help never answers one.
    ProgramOptions web;
    web.env = {{"GATEWAY_INTERFACE", "CGI/1.1"}};
    r = runQarvel({"--help"}, web);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.find("Configuration file"), std::string::npos);
}

} // namespace
} // namespace qarvel::test
