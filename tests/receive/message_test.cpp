// Attachment names and the attachment writer: names never leave the folder, -unique never
// overwrites, text mode, failed writes.
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "receive/attachment_file.h"
#include "receive/mbox_file.h"
#include "receive/message.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

using test::TempFolder;

// Names from a message: unsafe characters mapped, cut at the last "/" or "\", never "." or "..".
// A part named by its content id keeps the "@". A NUL must not survive: the file system would
// end the name there ("evil.txt").
TEST(SafeFileName, MapsUnsafeCharactersAndCutsPaths) {
    std::string controls;
    for (int c = 0; c < 0x20; ++c) controls += static_cast<char>(c);
    controls += '\x7f';
    struct Case {
        String (*map)(const String&);
        String in;
        const char* out;
    } cases[] = {
        {safeFileName, "my file/what?.txt", "my_file_what_.txt"},
        {safeFileName, "a-b+c_d~e$f(g).h", "a-b+c_d~e$f(g).h"},
        {safeFileName, "\xC3\xBC" "ber:*|\"<>", "\xC3\xBC" "ber______"},
        {safeFileName, "..", "__"},
        {safeFileName, ".", "_"},
        {safeFileName, String("evil.txt\0.pdf", 13), "evil.txt_.pdf"},
        {safeFileName, String(controls.data(), controls.size()), "_________________________________"},
        {attachmentFileName, "../../etc/passwd", "passwd"},
        {attachmentFileName, "C:\\dir\\..\\x.exe", "x.exe"},
        {attachmentFileName, "/abs/path", "path"},
        {attachmentFileName, "dir/..", ""},
        {attachmentFileName, "a/../../b", "b"},
        {attachmentFileName, String("evil.txt\0.pdf", 13), "evil.txt_.pdf"},
        {attachmentFileName, "", ""},
        {contentIdFileName, "img1@example.test", "img1@example.test"},
        {contentIdFileName, "../x/part@host", "part@host"},
        {contentIdFileName, "a\\..\\b@c?d", "b@c_d"},
        {contentIdFileName, "..", ""},
    };
    TempFolder dir;
    for (const Case& c : cases) {
        EXPECT_EQ(c.map(c.in), c.out) << c.in.str();
        if (c.map == safeFileName) continue;
        // Written under that name (a generated one when nothing is left), inside the folder.
        String name = c.in;
        ASSERT_EQ(writeAttachment(dir.path.c_str(), name, "data", 4, false, false), kWriteOk) << c.in.str();
        if (*c.out) {
            EXPECT_EQ(name, c.out);
        }
        EXPECT_EQ(name.find('/'), String::npos) << c.in.str();
        EXPECT_EQ(dir.read(name.str()), "data") << c.in.str();
    }
    struct stat st;
    EXPECT_NE(stat(dir.file("evil.txt").c_str(), &st), 0);
}

TEST(WriteAttachment, PlantedLinksNeverLeadOutside) {
    TempFolder outside, dir;
    const std::string victim = outside.put("victim.txt", "precious");
    const std::string dangling = outside.file("created.txt");
    ASSERT_EQ(symlink(victim.c_str(), dir.file("a.txt").c_str()), 0);
    ASSERT_EQ(symlink(dangling.c_str(), dir.file("b.txt").c_str()), 0);
    ASSERT_EQ(link(victim.c_str(), dir.file("c.txt").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.file("d.txt").c_str(), 0600), 0);
    struct stat st;
    for (const char* planted : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
        SCOPED_TRACE(planted);
        String name = planted;
        testing::internal::CaptureStderr();
        EXPECT_EQ(writeAttachment(dir.path.c_str(), name, "EVIL", 4, false, false), kWriteFailed);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("Could not create attachment file: '" + dir.file(planted) + "'", 0), 0u) << err;
        // With -unique the planted entry is left alone and a fresh file is made beside it.
        name = planted;
        EXPECT_EQ(writeAttachment(dir.path.c_str(), name, "ok", 2, false, true), kWriteOk);
        EXPECT_EQ(name, String("Copy1_") + planted);
        EXPECT_EQ(dir.read(name.str()), "ok");
    }
    EXPECT_EQ(outside.read("victim.txt"), "precious");
    EXPECT_NE(lstat(dangling.c_str(), &st), 0);
    // The planted entries are still what they were: nothing removed them either.
    ASSERT_EQ(lstat(dir.file("a.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// (Generated names are unique: ParserTest.EveryPartIsNamedApartAndOverflowIsCounted.)
TEST(WriteAttachment, AGeneratedNameNeverReplacesAFile) {
    TempFolder dir;
    dir.put("0000ABCD.123", "earlier");
    MessagePart part;
    part.data.append("new", 3);
    part.generatedName = true;
    String name = "0000ABCD.123";
    ASSERT_EQ(writeAttachment(dir.path.c_str(), name, part, false, false), kWriteOk);
    EXPECT_EQ(name, "Copy1_0000ABCD.123");
    EXPECT_EQ(dir.read("0000ABCD.123"), "earlier");
}

TEST(WriteAttachment, UniqueNamesAndTextMode) {
    TempFolder dir;
    String a = "r.txt", b = "r.txt", c = "r.txt";
    ASSERT_EQ(writeAttachment(dir.path.c_str(), a, "1\r\n2\r\n", 6, true, true), kWriteOk);
    ASSERT_EQ(writeAttachment(dir.path.c_str(), b, "x\r\ny", 4, false, true), kWriteOk);
    ASSERT_EQ(writeAttachment(dir.path.c_str(), c, "lone\rcr\r", 8, true, true), kWriteOk);
    EXPECT_EQ(a, "r.txt");
    EXPECT_EQ(b, "Copy1_r.txt");
    EXPECT_EQ(c, "Copy2_r.txt");
    EXPECT_EQ(dir.read("r.txt"), "1\n2\n");
    EXPECT_EQ(dir.read("Copy1_r.txt"), "x\r\ny");
    EXPECT_EQ(dir.read("Copy2_r.txt"), "lone\rcr\r");
    // Without -unique the file is overwritten.
    String d = "r.txt";
    ASSERT_EQ(writeAttachment(dir.path.c_str(), d, "new", 3, false, false), kWriteOk);
    EXPECT_EQ(dir.read("r.txt"), "new");
    String e = "x";
    EXPECT_EQ(writeAttachment((dir.path + "/missing").c_str(), e, "x", 1, false, false), kWriteFailed);
    // No folder: the working folder.
    char* cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    EXPECT_EQ(writeAttachment("", e, "here", 4, false, false), kWriteOk);
    ASSERT_EQ(chdir(cwd), 0);
    free(cwd);
    EXPECT_EQ(dir.read("x"), "here");
}

TEST(WriteAttachment, AFailedWriteLeavesNothingUnderAnyName) {
    TempFolder dir;
    // A file size limit makes the write fail part way, as a full disk would: for a part held
    // in memory and for one that went straight into the folder as it was decoded.
    for (bool staged : {false, true}) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::string block(100000, 'z');
            MessagePart part;
            if (staged) part.data.stageIn(FolderHandle::open(dir.path.c_str()), false);
            part.data.append(block.data(), block.size());
            part.data.finish();
            String name = "big.bin";
            int r = writeAttachment(dir.path.c_str(), name, part, false, false);
            _exit(r == kWriteFailed && dir.names().empty() ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << staged;
    }
}

TEST(PartData, SpillsPastTheLimitAndCopiesBack) {
    TempFolder dir;
    PartData data;
    data.setSpillFolder(dir.path.c_str());
    std::string block(1 << 20, 'q');
    block[0] = '\r';
    block[1] = '\n';
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(data.append(block.data(), block.size()));
    ASSERT_TRUE(data.finish());
    EXPECT_FALSE(data.inMemory());
    EXPECT_EQ(data.size(), 3u << 20);
    TempFolder to;
    StagedFile out;
    ASSERT_TRUE(out.create(FolderHandle::open(to.path.c_str())));
    ASSERT_TRUE(data.copyTo(out, true));
    ASSERT_TRUE(out.commit("copy"));
    EXPECT_EQ(to.read("copy").size(), (3u << 20) - 3);
    data.clear();
    // The temporary file is gone once the part is dropped.
    EXPECT_EQ(dir.names(), "");
}

TEST(PartData, ManyPartsShareOneMemoryBudget) {
    // Each part stays under its own limit, but together they would pass the budget: the
    // later ones go to files, and everything is back to nothing once they are dropped.
    TempFolder dir;
    const size_t before = PartData::bytesInMemory();
    std::vector<std::unique_ptr<PartData>> parts;
    std::string block(kPartMemoryLimit - 1, 'p');
    size_t spilled = 0;
    for (size_t i = 0; i < 2 * kPartsMemoryBudget / kPartMemoryLimit; ++i) {
        parts.push_back(std::make_unique<PartData>());
        parts.back()->setSpillFolder(dir.path.c_str());
        ASSERT_TRUE(parts.back()->append(block.data(), block.size()));
        ASSERT_TRUE(parts.back()->finish());
        EXPECT_LE(PartData::bytesInMemory(), kPartsMemoryBudget);
        if (!parts.back()->inMemory()) ++spilled;
        EXPECT_EQ(parts.back()->size(), block.size());
    }
    EXPECT_GE(spilled, parts.size() / 2);
    parts.clear();
    EXPECT_EQ(PartData::bytesInMemory(), before);
}

TEST(PartData, FinishedPartsInFilesHoldNoOpenFile) {
    // More spilled parts than the process may open files: each closes its file when it is
    // finished, and every one still reads back whole.
    TempFolder dir;
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
    struct rlimit low = old;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<std::unique_ptr<PartData>> parts;
    bool allWritten = true;
    for (int i = 0; i < 200 && allWritten; ++i) {
        parts.push_back(std::make_unique<PartData>());
        parts.back()->setSpillFolder(dir.path.c_str());
        parts.back()->setMemoryLimit(0);
        std::string text = "part " + std::to_string(i);
        allWritten = parts.back()->append(text.data(), text.size()) && parts.back()->finish();
    }
    setrlimit(RLIMIT_NOFILE, &old);
    ASSERT_TRUE(allWritten) << "stopped at part " << parts.size();
    EXPECT_FALSE(parts[150]->inMemory());
    EXPECT_EQ(parts[150]->head(100), "part 150");
}

// The text of an mbox file, fed in pieces that cut through a CR LF, a run of ">" and "From ":
// line ends become LF, a "From " line after any ">" gets one more, and the message ends with
// its line end and an empty line.
TEST(MboxText, QuotesFromLinesAcrossPieces) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"From x\r\nbody\r\n"}, ">From x\nbody\n\n"},
        {{"a\r", "\nb"}, "a\nb\n\n"},
        {{">", ">Fr", "om y\r\n"}, ">>>From y\n\n"},
        {{"Fromage\n", "From\n", "x From y\n"}, "Fromage\nFrom\nx From y\n\n"},
        {{"a\rb\r"}, "a\rb\r\n\n"},
        {{"Fro"}, "Fro\n\n"},
        {{}, "\n"},
    };
    for (const auto& [pieces, want] : cases) {
        MboxText text;
        std::string out;
        for (const std::string& piece : pieces) text.feed(piece.data(), piece.size(), out);
        text.finish(out);
        EXPECT_EQ(out, want) << (pieces.empty() ? "" : pieces[0]);
    }
}

} // namespace
} // namespace qarvel
