#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/ordered_map.h"
#include "base/string_list.h"
#include "base/wildcard.h"

using namespace qarvel;

TEST(Lists, StringListAndCursor) {
    StringList list;
    String item;
    EXPECT_FALSE(list.takeHead(item));
    list.add("a");
    list.add("b");
    list.add("c");
    StringListCursor cursor(list);
    std::vector<std::string> seen;
    while (cursor.next(item)) seen.emplace_back(item.view());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(cursor.next(item));  // back in the start state: next acts as first
    EXPECT_EQ(item, "a");
    EXPECT_EQ(list.joined(","), "a,b,c");
}

TEST(Lists, OrderedMapKeepsOrderAndNewestFirst) {
    OrderedMap map(true);
    for (int i = 0; i < 2000; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "%010d", (i * 7919) % 2000);
        map.insert(key, "v");
    }
    map.insert("0000000005", "newest");
    EXPECT_EQ(map.size(), 2001u);
    EXPECT_EQ(*map.find("0000000005"), "newest");
    EXPECT_EQ(map.find("nope"), nullptr);
    String previous;
    bool sorted = true;
    map.forEach([&](const String& k, const String&) {
        if (k < previous) sorted = false;
        previous = k;
        return true;
    });
    EXPECT_TRUE(sorted);
    map.clear();
    EXPECT_EQ(map.size(), 0u);

    // Equal keys: the walk gives the newest first.
    OrderedMap equal(false);
    for (const char* kv : {"b1", "ax", "b2", "cy", "b3"}) equal.insert(std::string(kv, 1).c_str(), kv + 1);
    std::string walk;
    equal.forEach([&](const String& k, const String& v) {
        walk += std::string(k.view()) + v.c_str() + " ";
        return true;
    });
    EXPECT_EQ(walk, "ax b3 b2 b1 cy ");
    EXPECT_EQ(*equal.find("b"), "3");
}

TEST(Lists, WildcardSetsAndCapture) {
    EXPECT_TRUE(wildcardMatch("file12.txt", "file@.txt", true, false, nullptr));
    EXPECT_FALSE(wildcardMatch("file12.txt", "file@.txt", true, true, nullptr));  // '@' literal in the simple set
    EXPECT_TRUE(wildcardMatch("?#", "?#", false, true, nullptr));
    EXPECT_FALSE(wildcardMatch("a1", "?#", false, true, nullptr));
    EXPECT_TRUE(wildcardMatch("a*b", "a\\*b", false, true, nullptr));
    EXPECT_FALSE(wildcardMatch("axb", "a\\*b", false, true, nullptr));
    EXPECT_FALSE(wildcardMatch("file", "file\\*", false, false, nullptr));
    EXPECT_TRUE(wildcardMatch("HELLO", "hello", true, true, nullptr));
    EXPECT_FALSE(wildcardMatch("HELLO", "hello", false, true, nullptr));
    EXPECT_TRUE(wildcardMatch("abc", "abc*", false, true, nullptr));
    EXPECT_TRUE(wildcardMatch("Re: hello world", "*hello*", true, true, nullptr));
    EXPECT_FALSE(wildcardMatch("Re: help", "*hello*", true, true, nullptr));
    EXPECT_TRUE(wildcardMatch("x7y", "x#y", false, false, nullptr));
    EXPECT_FALSE(wildcardMatch("xay", "x#y", false, false, nullptr));  // '#' a digit, '!' a letter
    EXPECT_FALSE(wildcardMatch("x7y", "x!y", false, false, nullptr));
    EXPECT_TRUE(wildcardMatch("abab", "*ab", false, true, nullptr));
    EXPECT_TRUE(wildcardMatch("file", "file@", false, false, nullptr));  // runs may be empty
    EXPECT_TRUE(wildcardMatch("file", "file$", false, false, nullptr));
    EXPECT_FALSE(wildcardMatch("file", "file?", false, false, nullptr));
    EXPECT_FALSE(wildcardMatch(nullptr, "*", false, false, nullptr));
    // Every text character a wildcard takes goes to the capture.
    const char* captures[][3] = {{"report-2026.pdf", "report-*.pdf", "2026"}, {"msg12-ab.eml", "msg@-$.eml", "12ab"},
                                 {"x9y", "?#!", "x9y"}, {"file", "file*", ""}};
    for (auto& c : captures) {
        char capture[64];
        EXPECT_TRUE(wildcardMatch(c[0], c[1], false, false, capture)) << c[1];
        EXPECT_STREQ(capture, c[2]);
    }
    // Many stars on a long text end quickly.
    std::string text(5000, 'a');
    EXPECT_FALSE(wildcardMatch(text.c_str(), "*a*a*a*a*a*a*a*a*b", false, true, nullptr));
}
