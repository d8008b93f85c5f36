#include <gtest/gtest.h>

#include <string>

#include "base/base64.h"
#include "receive/part_decoder.h"

using namespace qarvel;

namespace {

// Decodes `text` as base64, handed over in pieces of `piece` bytes (0: one piece).
std::string decodePieces(const std::string& text, size_t piece) {
    std::string out;
    PartDecoder d;
    d.begin(PartEncoding::kBase64, [&](const char* p, size_t n) { out.append(p, n); return true; });
    if (piece == 0) piece = text.size() ? text.size() : 1;
    for (size_t at = 0; at < text.size(); at += piece) {
        size_t n = std::min(piece, text.size() - at);
        EXPECT_TRUE(d.put(text.data() + at, n, text[at + n - 1] == '\n'));
    }
    EXPECT_TRUE(d.finish());
    return out;
}

}  // namespace

// Whole groups take the table run and everything else the byte-wise path; the result must not
// depend on where the pieces are cut or on what is skipped between the groups.
TEST(PartDecoder, Base64PiecesAtEveryOffsetAndSkippedBytes) {
    std::string bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(static_cast<char>(i * 37 + 11));
    std::string text = base64Encode(bytes.data(), bytes.size(), 76).str();
    for (size_t piece : {0, 1, 2, 3, 5, 7, 77, 78, 79}) EXPECT_EQ(decodePieces(text, piece), bytes) << piece;
    // Blanks, stray bytes and a group cut by a line end are skipped; "=" padding likewise.
    EXPECT_EQ(decodePieces("QUJD\r\nR E\tV G\r\n!R0hJ\r\n", 0), "ABCDEFGHI");
    EXPECT_EQ(decodePieces("QU\r\nJDREVG\r\n", 3), "ABCDEF");
    // A partial group at the end: two values give one byte, three give two, one gives none.
    EXPECT_EQ(decodePieces("QUJDRA==", 0), "ABCD");
    EXPECT_EQ(decodePieces("QUJDREU=", 2), "ABCDE");
    EXPECT_EQ(decodePieces("QUJDR", 0), "ABC");
}
