#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/file_scan.h"
#include "base/paths.h"
#include "base/temp_file.h"
#include "support/temp_folder.h"

using namespace qarvel;

namespace {

std::vector<std::string> drain(FileScan& scan) {
    std::vector<std::string> out;
    FileScanEntry entry;
    while (scan.take(entry)) out.push_back(entry.path.c_str());
    return out;
}

}  // namespace

TEST(Paths, SplitJoinAndOutsideNames) {
    EXPECT_EQ(pathDirectory("a/b/c"), "a/b");
    EXPECT_EQ(pathFile("a/b/c"), "c");
    EXPECT_EQ(pathDirectory("name"), "");
    EXPECT_EQ(pathFile("name"), "name");
    EXPECT_EQ(joinPath("/tmp", "x"), "/tmp/x");
    EXPECT_EQ(joinPath("/tmp/", "x"), "/tmp/x");
    EXPECT_EQ(joinPath("", "x"), "x");
    EXPECT_EQ(outsideFileName("..\\..\\etc/passwd"), "passwd");
    EXPECT_EQ(outsideFileName("c:\\dir\\file.txt"), "file.txt");
    EXPECT_EQ(outsideFileName("a/.."), "");
    EXPECT_EQ(outsideFileName("plain.bin"), "plain.bin");
    EXPECT_EQ(folderOf("/var/mail/box"), "/var/mail");
    EXPECT_EQ(folderOf("/box"), "/");
    EXPECT_EQ(folderOf("a/b/"), "a");
    EXPECT_EQ(folderOf("box"), "");
}

// Every temporary file goes away with its object on every path but the one that moves it into
// place; the replacement keeps the old file's permissions.
TEST(TempFile, RemovedUnlessMovedIntoPlace) {
    test::TempFolder dir;
    struct stat st;
    std::string dropped, name;
    {
        TempFile temp(String(dir.path), "part-");
        ASSERT_TRUE(temp.valid());
        dropped = temp.path();
        FILE* out = temp.stream("wb");
        ASSERT_TRUE(out);
        fputs("abc", out);
        ASSERT_TRUE(temp.close());
        FILE* in = temp.stream("rb");  // opened again by its path
        char got[4] = {};
        ASSERT_TRUE(in && fread(got, 1, 3, in) == 3);
        EXPECT_STREQ(got, "abc");
    }
    EXPECT_NE(stat(dropped.c_str(), &st), 0);

    const std::string target = dir.put("list.txt", "old\n");
    chmod(target.c_str(), 0640);
    {
        TempFile temp = TempFile::beside(String(target));
        name = temp.path();
        EXPECT_EQ(name.rfind(target + ".", 0), 0u);
        ASSERT_TRUE(temp.setModeOf(String(target)));
        ASSERT_EQ(write(temp.fd(), "new\n", 4), 4);
        ASSERT_TRUE(temp.sync());
        TempFile moved = std::move(temp);
        ASSERT_TRUE(moved.moveTo(String(target)));
    }
    EXPECT_EQ(dir.read("list.txt"), "new\n");
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_NE(stat(name.c_str(), &st), 0);

    {
        TempFile temp(String(dir.path), "anon-");
        name = temp.path();
        temp.removeName();
        EXPECT_NE(stat(name.c_str(), &st), 0);
        FILE* out = temp.stream("w+b");  // the open file outlives its name
        ASSERT_TRUE(out && fputs("x", out) >= 0 && fflush(out) == 0);
    }
    EXPECT_FALSE(TempFile(String(dir.file("missing")), "x-").valid());
    const std::string folder = makeTempFolder(String(dir.path), "up-");
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(makeTempFolder(String(dir.file("missing")), "up-").empty());
}

TEST(FileScan, KindDepthOrderAndTimeBounds) {
    test::TempFolder folder;
    const std::string& root = folder.path;
    mkdir((root + "/sub").c_str(), 0700);
    mkdir((root + "/sub/deep").c_str(), 0700);
    for (const char* name : {"a1.txt", "b.dat", "sub/a22.txt", "sub/deep/a333.txt"}) folder.put(name, "abc");

    FileScan flat(false, false);
    flat.scan((root + "/A@.TXT").c_str(), 0, 0);
    EXPECT_EQ(drain(flat), std::vector<std::string>{root + "/a1.txt"});

    FileScan tree(false, false);
    tree.scan((root + "/*.txt").c_str(), 0, 1);
    EXPECT_EQ(tree.count(), 3u);
    EXPECT_EQ(tree.fileCount, 4u);
    EXPECT_EQ(tree.totalSize, 12.0);

    FileScan oneLevel(false, false);
    oneLevel.scan((root + "/*.txt").c_str(), 0, -1);
    EXPECT_EQ(oneLevel.count(), 2u);

    // Kind 2 with depth 2: contents before their directory, fit for removing a tree.
    FileScan both(true, false);
    both.scan((root + "/*").c_str(), 2, 2);
    std::vector<std::string> all = drain(both);
    ASSERT_EQ(all.size(), 6u);
    auto at = [&](const std::string& p) { return std::find(all.begin(), all.end(), p) - all.begin(); };
    EXPECT_LT(at(root + "/sub/deep/a333.txt"), at(root + "/sub/deep"));
    EXPECT_LT(at(root + "/sub/deep"), at(root + "/sub"));

    FileScan dirsFirst(true, false);
    dirsFirst.scan((root + "/*").c_str(), 1, 1);
    EXPECT_EQ(drain(dirsFirst), (std::vector<std::string>{root + "/sub", root + "/sub/deep"}));

    FileScan future(false, false);
    future.lowerTime = future.upperTime - 1;
    future.scan((root + "/*").c_str(), 0, 0);
    EXPECT_EQ(future.count(), 0u);

    FileScan missing(false, false);
    missing.scan((root + "/nothere/*").c_str(), 0, 1);
    missing.scan("", 0, 1);
    EXPECT_EQ(missing.count(), 0u);
}
