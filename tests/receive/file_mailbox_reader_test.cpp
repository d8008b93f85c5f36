// The file mailbox reader: one file or the files of a folder, deletion, and the reader state
// that close and retrieveHeader must leave behind.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "receive/file_mailbox_reader.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::TempFolder;

TEST(FileMailboxReader, MissingFileFolderListingAndDeletion) {
    // A file that is not there still counts as one message, which cannot be retrieved.
    FileMailboxReader missing;
    EXPECT_EQ(missing.open("/nonexistent/message.eml", "", nullptr, 0), 1);
    EXPECT_EQ(missing.messageCount(), 1);
    EXPECT_EQ(missing.retrieve(1), -1);
    EXPECT_EQ(missing.retrieve(2), -1);
    EXPECT_EQ(missing.deleteMessage(0), -1);

    TempFolder f;
    f.put("b.eml", "Subject: second\n\ntwo\n");
    f.put("a.eml", "Subject: first\r\n\r\none\r\n");
    f.put("c.txt", "Subject: not matched\n\n");
    FileMailboxReader reader;
    ASSERT_EQ(reader.open(f.path.c_str(), ".eml", nullptr, 0), 1);
    ASSERT_EQ(reader.messageCount(), 2);
    ASSERT_EQ(reader.retrieve(1), 1);
    EXPECT_EQ(reader.subject(), "first");
    EXPECT_STREQ(reader.body(), "one\r\n");
    ASSERT_EQ(reader.retrieve(2), 1);
    EXPECT_EQ(reader.subject(), "second");
    EXPECT_STREQ(reader.body(), "two\n");  // LF files keep their line ends
    EXPECT_EQ(reader.deleteMessage(2), 1);
    struct stat st;
    EXPECT_NE(stat((f.path + "/b.eml").c_str(), &st), 0);
    EXPECT_EQ(reader.deleteMessage(2), 0);  // already gone
    EXPECT_EQ(reader.deleteMessage(3), -1);

    FileMailboxReader all;  // a folder without a pattern: every file
    ASSERT_EQ(all.open(f.path.c_str(), "", nullptr, 0), 1);
    EXPECT_EQ(all.messageCount(), 2);

    FileMailboxReader empty;
    ASSERT_EQ(empty.open(f.path.c_str(), ".none", nullptr, 0), 1);
    EXPECT_EQ(empty.messageCount(), 0);
}

TEST(FileMailboxReader, HeaderOnlyFlagsAndKeepOpen) {
    TempFolder f;
    std::string p = f.put("m.eml",
                          "Subject: s\nContent-Type: multipart/mixed; boundary=x\n\n--x\n"
                          "Content-Type: application/octet-stream; name=a.bin\n\ndata\n--x--\n");
    FileMailboxReader reader;
    ASSERT_EQ(reader.open(p.c_str(), "", nullptr, 0), 1);
    reader.setExtract(1);
    ASSERT_EQ(reader.retrieveHeader(1), 1);
    EXPECT_EQ(reader.extract(), 1);
    EXPECT_EQ(reader.headerOnly(), 0);
    EXPECT_EQ(reader.partCount(), 0);  // no extraction while fetching the header
    EXPECT_STREQ(reader.body(), "--x\n");  // one body line, as TOP n 1 gives it

    // A header fetch of a file with a large attachment still keeps just that line.
    std::string big = "Subject: big\n\nfirst line\n" + std::string(3 << 20, 'A') + "\n";
    FileMailboxReader large;
    ASSERT_EQ(large.open(f.put("big.eml", big).c_str(), "", nullptr, 0), 1);
    ASSERT_EQ(large.retrieveHeader(1), 1);
    EXPECT_STREQ(large.body(), "first line\n");
    std::string longLine = "Subject: long\n\n" + std::string(3 << 20, 'B');
    ASSERT_EQ(large.open(f.put("long.eml", longLine).c_str(), "", nullptr, 0), 1);
    ASSERT_EQ(large.retrieveHeader(1), 1);
    EXPECT_EQ(large.bodyLength(), 64u << 10);  // a first line without an end is cut
    ASSERT_EQ(reader.retrieve(1), 1);
    EXPECT_EQ(reader.partCount(), 1);
    EXPECT_EQ(reader.currentFlags(), "\\Seen");
    reader.setKeepOpen(1);
    EXPECT_EQ(reader.MailboxReader::close(), 1);
    EXPECT_EQ(reader.subject(), "[no subject]");
    EXPECT_EQ(reader.partCount(), 0);
    EXPECT_STREQ(reader.body(), "");
}

} // namespace
} // namespace qarvel
