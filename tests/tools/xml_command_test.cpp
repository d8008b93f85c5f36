// The -xml run through the program itself: navigation steps and what they print, changes
// saved with the backup, the failure exits.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_folder.h"

namespace qarvel {
namespace {

const char kShop[] =
    "<shop>\n"
    "  <item id=\"5\">apple</item>\n"
    "  <item id=\"6\"><![CDATA[pear & <fig>]]></item>\n"
    "  <box><item id=\"7\">plum</item></box>\n"
    "  <item id=\"8\">kiwi</item>\n"
    "</shop>\n";

struct XmlRun : ::testing::Test {
    test::ProgramResult run(std::vector<std::string> steps) {
        steps.insert(steps.begin(), {"-xml", file});
        return test::runQarvel(steps, {.input = "", .timeLimitSeconds = 30, .env = {}});
    }
    test::TempFolder folder;
    std::string file = folder.put("shop.xml", kShop);
};

TEST_F(XmlRun, NavigationPrintsTheNodeReached) {
    struct {
        std::vector<std::string> steps;
        std::string out;
    } rows[] = {
        {{"-root"},
         "<shop>\n  <item id=\"5\">apple</item>\n  <item id=\"6\">\n    <![CDATA[pear & <fig>]]>\n"
         "  </item>\n  <box>\n    <item id=\"7\">plum</item>\n  </box>\n  <item id=\"8\">kiwi</item>\n"
         "</shop>\n"},
        {{"-root", "-child:item:::2"}, "<item id=\"6\">\n  <![CDATA[pear & <fig>]]>\n</item>\n"},
        {{"-root", "-child:item:::-1"}, "<item id=\"8\">kiwi</item>\n"},
        {{"-root", "-child:item", "-child:#text:::0"}, "apple\n"},
        {{"-root", "-child:item:::2", "-child:#text"}, "<![CDATA[pear & <fig>]]>\n"},
        {{"-descendant::id:7:0"}, "<item id=\"7\">plum</item>\n"},
        {{"-id:\"8\""}, "<item id=\"8\">kiwi</item>\n"},
        {{"-id:7", "-ancestor:box"}, "<box>\n  <item id=\"7\">plum</item>\n</box>\n"},
        // The following step searches the parent's subtree, the node's own left out.
        {{"-id:7", "-following:item:::-1"}, "NOT FOUND\n"},
        {{"-id:6", "-following:item:::-1"}, "<item id=\"8\">kiwi</item>\n"},
        {{"-id:5", "-fsibling:*:::3"}, "<box>\n  <item id=\"7\">plum</item>\n</box>\n"},
        {{"-id:6", "-psibling:item"}, "<item id=\"5\">apple</item>\n"},
        {{"-id:5", "-psibling:item:::1"}, "<item id=\"8\">kiwi</item>\n"},
        {{"-id:5", "-preceding:item"}, "NOT FOUND\n"},
        {{"-root", "-child:nothing"}, "NOT FOUND\n"},
        {{"-id:5", "-unknown-step", "this-too"}, "<item id=\"5\">apple</item>\n"},
    };
    for (const auto& row : rows) {
        test::ProgramResult r = run(row.steps);
        EXPECT_EQ(r.exitCode, 0) << row.steps.back();
        EXPECT_EQ(r.out, row.out) << row.steps.back();
    }
}

TEST_F(XmlRun, DebugListsTheCandidates) {
    test::ProgramResult r = run({"-dbg", "-root", "-child:item:::2"});
    EXPECT_NE(r.out.find("test /0001/0001 kind 1 'item'"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("test /0001/0002 kind 1 'item'"), std::string::npos) << r.out;
}

TEST_F(XmlRun, SaveKeepsTheBackupAndReplacesItNextTime) {
    ::chmod(file.c_str(), 0640);
    test::ProgramResult first = run({"-id:7", "-drop", "-save"});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(folder.read("shop.xml.BAK"), kShop);
    std::string once = folder.read("shop.xml");
    EXPECT_EQ(once.find("plum"), std::string::npos);
    EXPECT_NE(once.find("<box/>"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the new file keeps the old one's permissions

    test::ProgramResult second = run({"-id:5", "-child:#text", "-set:\"green&red\"", "-save"});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(folder.read("shop.xml.BAK"), once);
    EXPECT_NE(folder.read("shop.xml").find("<item id=\"5\">green&amp;red</item>"), std::string::npos);

    // Nothing else is left in the folder: no temporary file survives.
    test::ProgramResult ls = test::runProgram("/bin/ls", {folder.path});
    EXPECT_EQ(ls.out, "shop.xml\nshop.xml.BAK\n");
}

TEST_F(XmlRun, SaveUnderAnotherNameAndAdd) {
    std::string other = folder.file("new.xml");
    test::ProgramResult r = run({"-root", "-add:<item>fig</item>", "-child:box", "-add:loose", "-save:\"" + other + "\""});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(folder.read("shop.xml"), kShop);
    std::string saved = folder.read("new.xml");
    EXPECT_NE(saved.find("  <item>fig</item>\n</shop>"), std::string::npos) << saved;
    EXPECT_NE(saved.find("<item id=\"7\">plum</item>\nloose  </box>"), std::string::npos) << saved;
}

TEST_F(XmlRun, StepsAfterAFailedNavigationChangeNothing) {
    test::ProgramResult r = run({"-root", "-child:none", "-drop", "-set:x", "-add:<y/>", "-save"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "NOT FOUND\n");
    EXPECT_EQ(folder.read("shop.xml"), kShop);
    EXPECT_EQ(folder.read("shop.xml.BAK"), "");
    // A change made before the failed step is still printed (whole), and without -save not saved.
    test::ProgramResult changed = run({"-id:5", "-set:pear", "-child:none", "-drop"});
    EXPECT_NE(changed.out.find("<shop>\n  <pear id=\"5\">apple</pear>"), std::string::npos) << changed.out;
    EXPECT_EQ(folder.read("shop.xml"), kShop);
}

TEST_F(XmlRun, FailuresEndWithStatusOne) {
    test::ProgramResult missing = test::runQarvel({"-xml", folder.file("none.xml"), "-root"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "File '" + folder.file("none.xml") + "' not found\n");

    std::string bomb = "<!DOCTYPE b [<!ENTITY a \"&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY b \"&c;&c;&c;&c;&c;&c;&c;&c;\">"
                       "<!ENTITY c \"&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY d \"&e;&e;&e;&e;&e;&e;&e;&e;\">"
                       "<!ENTITY e \"&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY f \"&g;&g;&g;&g;&g;&g;&g;&g;\">"
                       "<!ENTITY g \"&h;&h;&h;&h;&h;&h;&h;&h;\"><!ENTITY h \"haha\">]><b>&a;</b>";
    std::string bombFile = folder.put("bomb.xml", bomb);
    test::ProgramResult r = test::runQarvel({"-xml", bombFile, "-root", "-set:x", "-save"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("entity expansion stopped"), std::string::npos) << r.err;
    EXPECT_EQ(folder.read("bomb.xml"), bomb);

    // A save into a folder that does not exist leaves the original alone.
    test::ProgramResult unsaved = run({"-id:5", "-drop", "-save:" + folder.file("no/such.xml")});
    EXPECT_EQ(unsaved.exitCode, 1);
    EXPECT_NE(unsaved.err.find("Could not write"), std::string::npos) << unsaved.err;
    EXPECT_EQ(folder.read("shop.xml"), kShop);
}

}  // namespace
}  // namespace qarvel
