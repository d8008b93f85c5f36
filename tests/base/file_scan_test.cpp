#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/file_scan.h"
#include "base/paths.h"
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
