#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "base/sync_round.h"
#include "support/temp_folder.h"

using namespace qarvel;
using qarvel::test::TempFolder;

namespace {

class FailingOutput : public SharedOutput {
public:
    int sync() override { return EIO; }
    void takeBack() override { takenBack = true; }
    std::string describe() const override { return "the shared file"; }
    bool takenBack = false;
};

StagedFile written(const TempFolder& folder, const char* text) {
    StagedFile file;
    EXPECT_TRUE(file.create(FolderHandle::open(folder.path.c_str())));
    EXPECT_TRUE(file.write(text, std::char_traits<char>::length(text)));
    return file;
}

SyncRound::Place named(const char* name) {
    return [name](StagedFile& f) { return f.commit(name); };
}

}  // namespace

// Whatever an item fails by (a shared output that does not sync, a name that cannot be given),
// nothing of it stays under a name, while the items beside it are named and durable.
TEST(SyncRound, AnItemThatFailsLeavesNothingAndTheOthersComeThrough) {
    TempFolder folder;
    FailingOutput shared;
    SyncRound round;
    EXPECT_TRUE(round.empty());
    round.begin();
    round.addFile(written(folder, "zero"), named("zero.txt"));
    round.touch(shared);
    round.begin();
    round.addFile(written(folder, "one"), named("one.txt"));
    round.begin();
    round.addFile(written(folder, "two a"), named("two-a.txt"));
    round.addFile(written(folder, "two b"), [](StagedFile&) { return false; });
    EXPECT_EQ(round.items(), 3u);
    EXPECT_EQ(round.files(), 4u);

    std::vector<SyncRound::Outcome> out = round.settle();
    ASSERT_EQ(out.size(), 3u);
    EXPECT_FALSE(out[0].durable);
    EXPECT_NE(out[0].reason.find("the shared file: Input/output error"), std::string::npos) << out[0].reason;
    EXPECT_TRUE(shared.takenBack);
    EXPECT_TRUE(out[1].durable);
    EXPECT_FALSE(out[2].durable);
    EXPECT_NE(out[2].reason.find("could not be named"), std::string::npos) << out[2].reason;
    EXPECT_EQ(folder.names(), "one.txt");
    EXPECT_EQ(folder.read("one.txt"), "one");
    EXPECT_TRUE(round.empty());
    EXPECT_EQ(round.settle().size(), 0u);
}
