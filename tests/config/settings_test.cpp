#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "config/settings.h"
#include "config/settings_dump.h"

namespace qarvel {

namespace {

// Stands for a value of any type in a brace list: an aggregate takes as many of them as it has
// members, which counts the members without naming them.
struct AnyMember {
    template <class T>
    operator T() const;
};

template <class T, size_t... I>
constexpr bool takes(std::index_sequence<I...>) {
    return requires { T{(void(I), AnyMember{})...}; };
}

template <class T, size_t N = 0>
constexpr size_t memberCount() {
    if constexpr (takes<T>(std::make_index_sequence<N + 1>{})) return memberCount<T, N + 1>();
    else return N;
}

} // namespace

// A member without its row in the field table would be neither dumped nor reset: each group has
// as many rows as members, and no name comes twice.
TEST(Settings, EveryMemberHasOneRowOfTheFieldTable) {
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    dumpSettings(Settings{}, out);
    std::fclose(out);
    std::map<std::string, size_t> rows;
    std::set<std::string> names;
    for (const char* line = text; *line;) {
        const char* end = std::strchr(line, '\n');
        const std::string name(line, std::strchr(line, '='));
        EXPECT_TRUE(names.insert(name).second) << name;
        const size_t dot = name.find('.');
        ++rows[dot == std::string::npos ? std::string() : name.substr(0, dot)];
        line = end ? end + 1 : line + std::strlen(line);
    }
    std::free(text);
    EXPECT_EQ(rows.size() - 1 + rows[""], memberCount<Settings>());
    EXPECT_EQ(rows["servers"], memberCount<ServerSettings>());
    EXPECT_EQ(rows["connection"], memberCount<ConnectionOptions>());
    EXPECT_EQ(rows["addresses"], memberCount<AddressSettings>());
    EXPECT_EQ(rows["content"], memberCount<ContentSettings>());
    EXPECT_EQ(rows["smtp"], memberCount<SmtpSettings>());
    EXPECT_EQ(rows["receive"], memberCount<ReceiveSettings>());
    EXPECT_EQ(rows["web"], memberCount<Settings::Web>());
    EXPECT_EQ(rows["tools"], memberCount<ToolSettings>());
}

// The first form sets the default hosts, ports and names; the other leaves every string empty.
// Both put the numbers and choices back to their initial values and keep the lists and the
// time-out.
TEST(Settings, ResetForms) {
    Settings s;
    s.content.files.add("kept");
    s.connection.timeoutSeconds = 7;
    s.servers.smtpHost = "mail.example";
    s.connection.bufferSize = 10;
    s.receive.decodeHeaders = false;
    resetSettings(s, true);
    EXPECT_EQ(s.servers.smtpHost, "localhost");
    EXPECT_EQ(s.servers.pop3Port, "110");
    EXPECT_EQ(s.connection.bufferSize, 4096);
    EXPECT_TRUE(s.receive.decodeHeaders);

    s.sender = SenderKind::kFile;
    s.receive.lastMessage = 3;
    resetSettings(s, false);
    EXPECT_TRUE(s.servers.smtpPort.empty());
    EXPECT_TRUE(s.content.contentType.empty());
    EXPECT_EQ(s.servers.discoveredDnsServer, "localhost");
    EXPECT_EQ(s.sender, SenderKind::kSmtp);
    EXPECT_EQ(s.receive.lastMessage, 2147483647);
    EXPECT_EQ(s.content.files.count(), 1u);
    EXPECT_EQ(s.connection.timeoutSeconds, 7);
}

} // namespace qarvel
