// String, the text helpers and the progress line.
#include "base/string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "base/progress_line.h"
#include "base/text.h"

using qarvel::String;

TEST(String, SharingAndCopyOnWrite) {
    String a("hello");
    String b = a;
    EXPECT_EQ(a.shareCount(), 2u);
    b += " world";
    EXPECT_EQ(a, "hello");
    EXPECT_EQ(b, "hello world");
    EXPECT_EQ(a.shareCount(), 1u);
    a = a; // self-assignment
    EXPECT_EQ(a, "hello");
    String up("MiXeD"), shared = up;
    shared.toLower();
    EXPECT_EQ(up, "MiXeD");
    EXPECT_EQ(shared, "mixed");

    // Appending to a string nobody shares fills its room in place; a copy taken on the way
    // keeps the text it had, and a string appended to itself, or with bytes of its own, reads
    // them before it moves.
    String built, halfway;
    for (int i = 0; i < 1000; ++i) {
        built += static_cast<char>('a' + i % 26);
        if (i == 499) halfway = built;
    }
    EXPECT_EQ(built.length(), 1000u);
    EXPECT_EQ(halfway.length(), 500u);
    EXPECT_EQ(String(built, 0, 500), halfway);
    EXPECT_EQ(halfway.shareCount(), 1u);
    built += built;
    EXPECT_EQ(String(built, 1000), String(built, 0, 1000));
    for (int i = 0; i < 3; ++i) built.append(built.c_str() + 5, 3);
    EXPECT_EQ(String(built, 2000), "fghfghfgh");
    EXPECT_EQ(std::strlen(built.c_str()), built.length());
}

// Substrings and indexes past the end are clamped; replacing, comparing bytes as unsigned,
// case-free tests, a NUL written to a stream, and the leading number of a text.
TEST(String, EdgesReplaceCompareAndNumbers) {
    String abc("abc");
    EXPECT_EQ(String(abc, 5, 2), "");
    EXPECT_EQ(String(abc, 1, 100), "bc");
    EXPECT_EQ(abc[3], '\0');
    EXPECT_EQ(abc[100], '\0');
    EXPECT_EQ(String(static_cast<const char*>(nullptr)), "");
    EXPECT_FALSE(abc == static_cast<const char*>(nullptr));
    EXPECT_EQ(String("aaa").replaced("aa", "b"), "ba");
    EXPECT_EQ(String("a-b-c").replaced("-", ""), "abc");
    EXPECT_EQ(String("abc").replaced("", "x"), "abc");
    EXPECT_EQ(String("a/b/c").replaced('/', '\\'), "a\\b\\c");
    EXPECT_TRUE(String("ab") < String("abc"));
    EXPECT_TRUE(String("0000000009") < String("0000000010"));
    EXPECT_TRUE(String("a") < String("\xe9"));
    EXPECT_TRUE(String("Content-Type").equalsIgnoreCase("content-TYPE"));
    EXPECT_FALSE(String("abc").equalsIgnoreCase(nullptr));
    EXPECT_TRUE(String("Subject: x").startsWithIgnoreCase("SUBJECT:", 8));
    EXPECT_FALSE(String("Sub").startsWithIgnoreCase("SUBJECT:", 8));
    std::ostringstream out;
    out << String("x\0y", 3) << String();
    EXPECT_EQ(out.str().size(), 3u);
    EXPECT_EQ(qarvel::toNumber("42abc"), 42);
    EXPECT_EQ(qarvel::toNumber("abc"), 0);
    EXPECT_EQ(qarvel::toNumber("-5"), -5);
    EXPECT_EQ(qarvel::toNumber(nullptr), 0);
}

namespace qarvel {

TEST(Text, CaseFreePrefixesAndWordsStayInsideTheirText) {
    EXPECT_TRUE(startsWithNoCase("Content-TYPE: x", "content-type:"));
    EXPECT_FALSE(startsWithNoCase("Content", "content-type"));  // shorter than the prefix
    EXPECT_FALSE(startsWith("Abc", "abc"));
    EXPECT_EQ(findNoCase("a KEEP-alive", "keep-alive"), 2u);
    EXPECT_EQ(findNoCase("ab", "abc"), std::string_view::npos);
    EXPECT_TRUE(containsNoCase("x; Attachment", "attachment"));
    EXPECT_FALSE(containsNoCase(std::string_view("attach\0ment", 6), "attachment"));
    EXPECT_TRUE(isBlank('\t'));
    EXPECT_FALSE(isBlank('\n'));
    EXPECT_TRUE(isSpace('\r'));
    EXPECT_FALSE(isSpace('\0'));
}

// The progress line's text: units up to GiB, the share only for a known size and never past
// 100 (a server that sends more than it announced), no rate before any time has passed.
TEST(Text, ProgressLineAmountsShareAndRate) {
    EXPECT_EQ(ProgressLine::text("Sending", 512, -1, 2.0), "Sending: 512 B, 256 B/s");
    EXPECT_EQ(ProgressLine::text("Downloading", 3 << 20, 12 << 20, 1.5),
              "Downloading: 3.0 MiB of 12.0 MiB (25%), 2.0 MiB/s");
    EXPECT_EQ(ProgressLine::text("Receiving", 5000, 4000, 1.0), "Receiving: 4.9 KiB of 3.9 KiB (100%), 4.9 KiB/s");
    EXPECT_EQ(ProgressLine::text("Receiving", 0, 0, 0.0), "Receiving: 0 B");
    EXPECT_EQ(ProgressLine::text("Sending", int64_t{5} << 30, -1, 1024.0), "Sending: 5.0 GiB, 5.0 MiB/s");
}

TEST(Text, UnquotingQuotesBlanksAndTheThreeEscapeModes) {
    EXPECT_EQ(unquoteValue("\"a b\"  "), "a b");
    EXPECT_EQ(unquoteValue("\" x \""), " x");       // blanks inside go only on the right
    EXPECT_EQ(unquoteValue("a\"b"), "a\"b");        // a quote elsewhere stays
    EXPECT_EQ(unquoteValue("\""), "\"");            // one quote is not a pair
    EXPECT_EQ(unquoteValue("a\\r\\nb\\q", kEscapesKept), "a\\r\\nb\\q");
    EXPECT_EQ(unquoteValue("a\\r\\nb\\q\\\\", kEscapesAll), "a\r\nbq\\");
    EXPECT_EQ(unquoteValue("a\\r\\nb\\q\\t", kEscapesControl), "a\r\nb\\q\t");
    EXPECT_EQ(unquoteValue("end\\", kEscapesAll), "end\\");
    EXPECT_EQ(unquoteValue(nullptr), "");
}

}  // namespace qarvel
