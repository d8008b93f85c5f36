// Formatting where only the format may end a line, blanking, and the rule for extra header
// text.
#include "base/line_breaks.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

namespace qarvel {
namespace {

bool callWith(std::string& out, const char* f, ...) {
    va_list args;
    va_start(args, f);
    bool ok = formatOneLinePerFormat(out, f, args);
    va_end(args);
    return ok;
}

std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* f, ...) {
    va_list args;
    va_start(args, f);
    std::string out;
    bool ok = formatOneLinePerFormat(out, f, args);
    va_end(args);
    return ok ? out : "<refused>";
}

// Formats the compiler would refuse to check (each given one pointer argument).
std::string unchecked(const char* f) {
    int unused = 0;
    std::string out;
    return callWith(out, f, &unused) ? out : std::string("<refused>");
}

TEST(LineBreaks, ArgumentsLoseTheirBreaksTheFormatKeepsIts) {
    struct Case {
        std::string got, want;
    } cases[] = {
        {format("PASS %s\r\n", "x\r\nDELE 2"), "PASS x  DELE 2\r\n"},
        {format("RCPT TO:<%s>\r\n", "a@b>\nRCPT TO:<c@d"), "RCPT TO:<a@b> RCPT TO:<c@d>\r\n"},
        {format("A: %s\r\nB: %s\r\n", "1", "2\r"), "A: 1\r\nB: 2 \r\n"},
        {format("%c%c", '\r', 'x'), " x"},
        {format("%%s %s", "lone\rcr"), "%s lone cr"},
        {format("%.*s|%-4s|%5.2s", 3, "ab\ncd", "\n", "\r\rz"), "ab |    |     "},
        {format("%d %i %u %x %X %o", -5, 7, 8u, 255u, 255u, 8u), "-5 7 8 ff FF 10"},
        {format("%ld %lu %lld %llu %zu %hhd %hd", -1L, 2UL, -3LL, 4ULL, size_t{5}, 6, 7), "-1 2 -3 4 5 6 7"},
        {format("%*d|%-*d|%.3f|%g", 4, 1, 3, 2, 1.5, 0.25), "   1|2  |1.500|0.25"},
        {format("no conversions\r\n"), "no conversions\r\n"},
        {format("%s", std::string(5000, 'y').c_str()), std::string(5000, 'y')},
        {unchecked("trailing %"), "<refused>"},
        {unchecked("%q"), "<refused>"},
        {unchecked("%n"), "<refused>"},
        {unchecked("%ls"), "<refused>"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(LineBreaks, BlankingAndDetection) {
    EXPECT_FALSE(holdsLineBreak("plain text\t"));
    EXPECT_TRUE(holdsLineBreak("a\rb"));
    EXPECT_TRUE(holdsLineBreak("a\n"));
    EXPECT_EQ(blankLineBreaks("Re: hi\r\nBcc: x@y\n\r").str(), "Re: hi  Bcc: x@y  ");
    EXPECT_EQ(blankLineBreaks(std::string_view("nul\0\n", 5)).length(), 5u);
}

TEST(LineBreaks, ExtraHeaderTextMustBeHeaderFields) {
    struct Case {
        const char* block;
        const char* fault;  // the start of the complaint, empty when the block is fine
    } cases[] = {
        {"", ""},
        {"X-A: 1", ""},
        {"X-A: 1\r\nX-B: 2\r\n", ""},
        {"X-A: 1\nX-B: 2\n", ""},
        {"X-A: 1\r\n\tfolded on\r\n more\r\n", ""},
        {"X-A:", ""},
        {"X-A: 1\r\n\r\nbody text", "line 2 is empty"},
        {"\r\n", "line 1 is empty"},
        {"X-A: 1\n\n", "line 2 is empty"},
        {"X-A: 1\r\rX-B: 2", "line 2 is empty"},
        {" leading continuation", "line 1 continues"},
        {"just words", "line 1 is not a header field"},
        {": no name", "line 1 is not a header field"},
        {"X-A: 1\r\nBad Name: 2", "line 2 has a header name with a blank"},
        {"X\x01: 1", "line 1 has a header name"},
    };
    for (const Case& c : cases) {
        std::string fault = headerBlockFault(c.block);
        if (*c.fault == '\0') EXPECT_EQ(fault, "") << c.block;
        else EXPECT_EQ(fault.rfind(c.fault, 0), 0u) << c.block << " -> " << fault;
    }
}

}  // namespace
}  // namespace qarvel
