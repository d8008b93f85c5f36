// The IMAP reader against scripted dialogues (its connect and login in imap_dialogue_test.cpp):
// folder selection and the per-message arrays, message literals read exactly (dots, lying and hostile sizes, several
// literals in one response), untagged responses in the middle of a command, ordering, folder
// lists, body structures and access-control replies.
#include <gtest/gtest.h>

#include <malloc.h>

#include <memory>
#include <string>
#include <vector>

#include "receive/imap_reader.h"
#include "support/scripted_socket.h"

namespace qarvel {
namespace {

using Imap = ScriptedSocket<ImapReader>;

const std::string kGreeting = "* OK [CAPABILITY IMAP4rev1 IDLE SORT ACL UIDPLUS] ready\r\n";

// Greeting, LOGIN, the capabilities after login, SELECT of a folder holding `count` messages
// and the sizes of all of them; then `rest`.
std::unique_ptr<Imap> selected(int count, const std::string& rest) {
    std::string sizes;
    for (int i = 1; i <= count; ++i)
        sizes += "* " + std::to_string(i) + " FETCH (UID " + std::to_string(100 + i) +
                 " RFC822.SIZE " + std::to_string(10 * i) + ")\r\n";
    auto imap = std::make_unique<Imap>(
        kGreeting + "1 OK [CAPABILITY IMAP4rev1 IDLE SORT ACL UIDPLUS] logged in\r\n"
        "* " + std::to_string(count) + " EXISTS\r\n* 1 RECENT\r\n"
        "* OK [UIDVALIDITY 77] ok\r\n* OK [UIDNEXT 200] ok\r\n2 OK selected\r\n" +
        (count ? sizes + "3 OK done\r\n" : std::string()) + rest);
    EXPECT_EQ(imap->open("h", "143", nullptr, 0), 1);
    EXPECT_EQ(imap->login("u", "p"), 1);
    EXPECT_EQ(imap->selectFolder("INBOX", 0), 1);
    if (count) {
        EXPECT_EQ(imap->fetchSizes(1, 0), 1);
    }
    imap->sent.clear();
    return imap;
}

TEST(ImapReader, SelectFillsTheArrays) {
    auto imap = selected(3, "");
    EXPECT_EQ(imap->messageCount(), 3);
    EXPECT_EQ(imap->uidValidity(), 77);
    EXPECT_EQ(imap->uidNext(), 200);
    EXPECT_EQ(imap->recentCount(), 1);
    EXPECT_EQ(imap->uidOf(2), 102u);
    EXPECT_EQ(imap->messageSize(3), 30);
    EXPECT_EQ(imap->messageSize(4), 0);
    EXPECT_EQ(imap->uidOf(0), 0u);
    EXPECT_EQ(imap->selectedFolder(), "INBOX");
    EXPECT_EQ(imap->currentSize(), 60u);

    // A count the server announces allocates nothing; what it then tells is kept.
    auto huge = selected(0, "");
    huge->setReplies("* 4294967295 EXISTS\r\n3 OK\r\n* 9999999 FETCH (UID 5 RFC822.SIZE 9)\r\n4 OK\r\n");
    const size_t before = mallinfo2().uordblks;
    EXPECT_EQ(huge->selectFolder("INBOX", 0), 1);
    EXPECT_EQ(huge->messageCount(), kImapMessagesMax);
    EXPECT_EQ(huge->fetchSizes(9999999, 9999999), 1);
    EXPECT_LT(mallinfo2().uordblks, before + (1u << 20));
    EXPECT_EQ(huge->messageSize(9999999), 9);
    EXPECT_EQ(huge->uidOf(9999999), 5u);
}

std::string fetchLine(int n, const std::string& body, const std::string& before = "FLAGS (\\Seen) ") {
    return "* " + std::to_string(n) + " FETCH (UID " + std::to_string(100 + n) + " RFC822.SIZE " +
           std::to_string(body.size()) + " " + before + "BODY[] {" + std::to_string(body.size()) +
           "}\r\n" + body;
}

TEST(ImapReader, MessageLiteralIsReadExactly) {
    // Lines holding only "." or beginning with dots are message data, not an end marker; the
    // literal ends mid-line (no final CRLF) and the response goes on after it.
    const std::string body = "Subject: dots\r\nFrom: a@b\r\n\r\nfirst\r\n.\r\n..two\r\nlast";
    auto imap = selected(2, fetchLine(2, body, "") + " FLAGS (\\Seen \\Flagged))\r\n4 OK done\r\n" +
                                "* 1 FETCH (FLAGS (\\Seen))\r\n" + fetchLine(1, "Subject: x\r\n\r\nhi\r\n") +
                                ")\r\n5 OK\r\n");
    EXPECT_EQ(imap->retrieve(2), 1);
    EXPECT_EQ(imap->sent, "4 FETCH 2 (UID RFC822.SIZE FLAGS BODY[])\r\n");
    EXPECT_EQ(imap->subject(), "dots");
    EXPECT_EQ(std::string(imap->body(), imap->bodyLength()), "first\r\n.\r\n..two\r\nlast");
    EXPECT_EQ(imap->currentUid(), 102);
    EXPECT_EQ(imap->currentFlags(), "\\Seen \\Flagged");  // sent after the literal
    EXPECT_EQ(imap->lastRetrieved(), 2);

    // An unsolicited FETCH of another message comes first and is only digested.
    imap->setHeaderOnly(1);
    EXPECT_EQ(imap->retrieve(1), 1);
    EXPECT_NE(imap->sent.find("5 FETCH 1 (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])"), std::string::npos);
    EXPECT_EQ(imap->subject(), "x");
    EXPECT_EQ(imap->retrieve(3), -1);  // outside the range: nothing is sent

    // With a plan, the FETCH of the next messages go ahead, each judged under its own tag:
    // the second's data may come before the first's tagged line (servers run them side by
    // side), a NO fails the third alone, and the next command first reads the fourth's answer,
    // which is owed.
    auto ahead = selected(4, fetchLine(1, "Subject: a\r\n\r\nA\r\n") + ")\r\n" +
                                 fetchLine(2, "Subject: b\r\n\r\nB\r\n") + ")\r\n4 OK\r\n5 OK\r\n6 NO gone\r\n" +
                                 fetchLine(4, "Subject: d\r\n\r\nD\r\n") + ")\r\n7 OK\r\n8 OK\r\n");
    ahead->viewBlock = 5;
    ahead->setRetrievalPlan([](int n) { return n < 4 ? n + 1 : 0; });
    ASSERT_EQ(ahead->retrieve(1), 1);
    std::string fetches;
    for (int n = 1; n <= 4; ++n)
        fetches += std::to_string(n + 3) + " FETCH " + std::to_string(n) + " (UID RFC822.SIZE FLAGS BODY[])\r\n";
    EXPECT_EQ(ahead->sent, fetches);
    EXPECT_EQ(ahead->subject(), "a");
    ASSERT_EQ(ahead->retrieve(2), 1);
    EXPECT_EQ(ahead->subject(), "b");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ahead->retrieve(3), -1);
    EXPECT_EQ(ahead->commandsAhead(), 1u);
    EXPECT_EQ(ahead->deleteMessage(1), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ahead->commandsAhead(), 0u);
    EXPECT_EQ(ahead->sent, fetches + "8 STORE 1 +FLAGS (\\Deleted)\r\n");

    // Thirty-two FETCH at the most are on their way before the first answer is read.
    auto many = selected(40, "");
    many->setRetrievalPlan([](int n) { return n < 40 ? n + 1 : 0; });
    EXPECT_LT(many->retrieve(1), 1);
    EXPECT_EQ(many->sent.ends_with("35 FETCH 32 (UID RFC822.SIZE FLAGS BODY[])\r\n"), true) << many->sent;
}

TEST(ImapReader, BrokenFetchesEndCleanly) {
    struct Case {
        const char* name;
        std::string rest;
        const char* out = "";  // on standard output
        int result = 0;        // 0: any failure
    } cases[] = {
        // (A hostile size, a connection gone mid literal, BYE: ReceiveFaults.)
        // More digits than 64 bits hold: no literal, so the tagged line is met and the session goes on.
        {"size beyond 64 bits", "* 1 FETCH (UID 101 BODY[] {99999999999999999999999}\r\nx\r\n4 OK\r\n"},
        {"tagged NO", "4 NO no such message\r\n"},
        {"wrong tag", "9 OK done\r\n"},
        {"no tagged line", "* 1 FETCH (UID 101 BODY[] {3}\r\nabc)\r\n"},
        {"the answer for another message", fetchLine(2, "Subject: two\r\n\r\n") + ")\r\n4 OK\r\n",
         "Message nbr missmatch: got = 2, expected = 1\n", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto imap = selected(2, c.rest);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int r = imap->retrieve(1);
        EXPECT_TRUE(c.result ? r == c.result : r < 1) << r;
        EXPECT_NE(testing::internal::GetCapturedStdout().find(c.out), std::string::npos);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(imap->lastRetrieved(), 0);
        if (c.name == std::string("size beyond 64 bits")) {
            EXPECT_TRUE(imap->connected());
        }
    }
}

TEST(ImapReader, SeveralLiteralsInOneResponseAreKept) {
    auto imap = selected(1, "* LIST () \"/\" {9}\r\nWork/2026\r\n"
                            "* LIST (\\HasNoChildren) \"/\" {6}\r\nA\r\nB\"C)\r\n"
                            "* 1 FETCH (BODY[1] {3}\r\nabc BODY[2] {4}\r\nd\r\ne)\r\n"
                            "4 OK\r\n");
    EXPECT_EQ(imap->listFolders("", 0), 1);
    EXPECT_EQ(imap->sent, "4 LIST \"\" \"*\"\r\n");
    String name;
    EXPECT_EQ(imap->nextFolderName(name), 1);
    EXPECT_EQ(name, "Work/2026");
    EXPECT_EQ(imap->nextFolderName(name), 1);  // a name with a line break inside is kept as a literal
    EXPECT_EQ(imap->nextFolderName(name), 0);

    // readResponse keeps every literal of a response, in order.
    auto other = selected(0, "* 1 FETCH (BODY[1] {3}\r\nabc BODY[2] {4}\r\nd\r\ne BODY[3] {0}\r\n)\r\n");
    EXPECT_EQ(other->readResponse(), 1);
    ASSERT_EQ(other->literals().size(), 3u);
    EXPECT_EQ(other->literals()[0], "abc");
    EXPECT_EQ(other->literals()[1], "d\r\ne");
    EXPECT_EQ(other->literals()[2], "");
    EXPECT_STREQ(other->response(), "* 1 FETCH (BODY[1] \"abc\" BODY[2] {} BODY[3] \"\")\r\n");
}

TEST(ImapReader, UntaggedResponsesInTheMiddleOfACommand) {
    // New mail, an expunge of message 1 (the later UIDs move down) and a flag change arrive
    // while a STORE runs.
    auto imap = selected(3, "* 4 EXISTS\r\n* 1 EXPUNGE\r\n* 1 FETCH (FLAGS (\\Seen))\r\n4 OK stored\r\n");
    EXPECT_EQ(imap->deleteByUid(102), 1);
    EXPECT_EQ(imap->sent, "4 UID STORE 102 +FLAGS (\\Deleted)\r\n");
    EXPECT_EQ(imap->messageCount(), 3);
    EXPECT_EQ(imap->uidOf(1), 102u);
    EXPECT_EQ(imap->uidOf(2), 103u);
    EXPECT_EQ(imap->uidOf(3), 0u);  // the new message: not yet known by UID

    // A BYE ends the session: the command fails and says why.
    auto bye = selected(1, "* BYE server shutting down\r\n");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_LT(bye->deleteMessage(1), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("server shutting down"), std::string::npos);
}

TEST(ImapReader, SortAndSearchOrder) {
    auto imap = selected(3, "* SORT 103 101  102\r\n4 OK\r\n");
    EXPECT_EQ(imap->sort("REVERSE DATE", ""), 1);
    EXPECT_EQ(imap->sent, "4 UID SORT (REVERSE DATE) US-ASCII ALL\r\n");
    EXPECT_EQ(imap->messageCount(), 3);
    EXPECT_EQ(imap->orderedUid(1), 103u);
    EXPECT_EQ(imap->orderedUid(3), 102u);
    EXPECT_EQ(imap->orderedUid(4), 0u);
    EXPECT_EQ(imap->sort("ARRIVAL", ""), 0);  // once per selection
    EXPECT_EQ(imap->search("ALL"), 0);

    auto searched = selected(3, "* SEARCH 102\r\n4 OK\r\n* SEARCH\r\n6 OK\r\n");
    EXPECT_EQ(searched->search("SUBJECT \"x\""), 1);
    EXPECT_EQ(searched->messageCount(), 1);
    EXPECT_EQ(searched->orderedUid(1), 102u);
    // A retrieve in the ordered state fetches by UID.
    testing::internal::CaptureStdout();
    searched->retrieve(1);
    testing::internal::GetCapturedStdout();
    EXPECT_NE(searched->sent.find("5 UID FETCH 102 (UID RFC822.SIZE FLAGS BODY[])"), std::string::npos);
}

// Folder lists, folder management, copies and access control: names and rights quoted, a
// failed copy stores no \Deleted, CLOSE before LOGOUT with -purge.
TEST(ImapReader, FolderCopyAndAccessCommands) {
    auto imap = selected(2, "* LSUB (\\Noselect) \"/\" \"Archive\"\r\n* LSUB () \"/\" \"Sent\"\r\n"
                            "* LSUB (\\noselect \\HasChildren) \"/\" Old\r\n4 OK\r\n"
                            "5 OK\r\n6 NO exists\r\n7 OK\r\n8 OK\r\n9 OK\r\n10 OK\r\n11 OK\r\n12 NO full\r\n"
                            "* ACL INBOX u lrswipkxtecda \"anyone\" lr\r\n13 OK\r\n"
                            "* LISTRIGHTS INBOX bob \"\" l r s w i p k x t e c d a\r\n14 OK\r\n"
                            "* MYRIGHTS \"IN BOX\" lrs\r\n15 OK\r\n16 OK\r\n17 OK\r\n18 OK\r\n* BYE bye\r\n19 OK\r\n");
    EXPECT_EQ(imap->listFolders("S*", 1), 1);
    std::vector<std::string> names;
    String name;
    for (int pass = 0; pass < 2; ++pass) {
        while (imap->nextFolderName(name) > 0) names.push_back(name.c_str());
        EXPECT_TRUE(name.empty());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Sent", "Old", "Sent", "Old"}));
    EXPECT_EQ(imap->createFolder("a \"b\""), 1);
    EXPECT_EQ(imap->createFolder("x"), -1);
    EXPECT_EQ(imap->renameFolder("x", "y"), 1);
    EXPECT_EQ(imap->deleteFolder("y"), 1);

    EXPECT_EQ(imap->copyMessage(1, "Keep", 0), 1);
    EXPECT_EQ(imap->moveByUid(102, "Old"), 1);
    EXPECT_EQ(imap->copyByUid(101, "Full", 1), -1);

    StringList ids, rights;
    EXPECT_EQ(imap->getAcl("INBOX", ids, rights), 1);
    EXPECT_EQ(ids.joined(","), "u,anyone");
    EXPECT_EQ(rights.joined(","), "lrswipkxtecda,lr");
    String required;
    StringList optional;
    EXPECT_EQ(imap->listRights("INBOX", "bob", required, optional), 1);
    EXPECT_EQ(required, "");
    EXPECT_EQ(optional.count(), 13u);
    String mine;
    EXPECT_EQ(imap->myRights("IN BOX", mine), 1);
    EXPECT_EQ(mine, "lrs");
    EXPECT_EQ(imap->setAcl("INBOX", "bob", "lr"), 1);
    EXPECT_EQ(imap->deleteAcl("INBOX", "bob"), 1);
    imap->setPurge(1);
    EXPECT_EQ(imap->logout(false), 1);
    EXPECT_EQ(imap->sent, "4 LSUB \"\" \"S*\"\r\n5 CREATE \"a \\\"b\\\"\"\r\n6 CREATE \"x\"\r\n"
                          "7 RENAME \"x\" \"y\"\r\n8 DELETE \"y\"\r\n"
                          "9 COPY 1 \"Keep\"\r\n10 UID COPY 102 \"Old\"\r\n"
                          "11 UID STORE 102 +FLAGS (\\Deleted)\r\n12 UID COPY 101 \"Full\"\r\n"
                          "13 GETACL \"INBOX\"\r\n14 LISTRIGHTS \"INBOX\" \"bob\"\r\n"
                          "15 MYRIGHTS \"IN BOX\"\r\n16 SETACL \"INBOX\" \"bob\" \"lr\"\r\n"
                          "17 DELETEACL \"INBOX\" \"bob\"\r\n18 CLOSE\r\n19 LOGOUT\r\n");
}

TEST(ImapReader, BodyStructures) {
    struct Case {
        const char* structure;
        std::vector<std::string> parts;  // section|type|encoding|charset|name|size
    } cases[] = {
        {"(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"UTF-8\") NIL NIL \"7BIT\" 24 2 NIL NIL NIL)",
         {"1|TEXT/PLAIN|7BIT|UTF-8||24"}},
        {"((\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"quoted-printable\" 10 1 NIL NIL NIL)"
         "(\"application\" \"pdf\" (\"name\" \"a b.pdf\") NIL NIL \"base64\" 4000 NIL "
         "(\"attachment\" (\"filename\" \"r.pdf\")) NIL) \"mixed\" (\"boundary\" \"B\") NIL NIL)",
         {"1|text/plain|quoted-printable|us-ascii||10", "2|application/pdf|base64||r.pdf|4000",
          "|MULTIPART/mixed||||0"}},
        {"(((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 5 1)(\"TEXT\" \"HTML\" NIL NIL NIL \"7BIT\" 9 1) "
         "\"ALTERNATIVE\")(\"IMAGE\" \"PNG\" NIL \"<i@x>\" NIL \"BASE64\" 300) \"RELATED\")",
         {"1.1|TEXT/PLAIN|7BIT|||5", "1.2|TEXT/HTML|7BIT|||9", "|MULTIPART/ALTERNATIVE||||0",
          "2|IMAGE/PNG|BASE64|||300", "|MULTIPART/RELATED||||0"}},
        {"((\"MESSAGE\" \"RFC822\" NIL NIL NIL \"7BIT\" 50 (NIL \"s (x)\" NIL NIL NIL NIL NIL NIL NIL NIL) "
         "(\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 3 1) 4)(\"TEXT\" \"PLAIN\" NIL NIL NIL \"8BIT\" 1 1) \"MIXED\")",
         {"1|MESSAGE/RFC822|7BIT|||50", "2|TEXT/PLAIN|8BIT|||1", "|MULTIPART/MIXED||||0"}},
        {"((\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" 5 1) \"UNKNOWN-KIND\")", {"1|TEXT/PLAIN|7BIT|||5"}},
        {"", {}},
        {"((((((", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.structure);
        std::vector<BodyPart> parts;
        parseBodyStructure(c.structure, parts);
        std::vector<std::string> got;
        for (const BodyPart& p : parts) {
            char size[32];
            snprintf(size, sizeof size, "%.0f", p.size);
            got.push_back(std::string(p.section.c_str()) + "|" + p.contentType.c_str() + "|" +
                          p.encoding.c_str() + "|" + p.charset.c_str() + "|" +
                          (p.fileName.empty() ? p.name : p.fileName).c_str() + "|" + size);
        }
        EXPECT_EQ(got, c.parts);
    }

    auto imap = selected(1, "* 1 FETCH (UID 101 BODYSTRUCTURE (\"TEXT\" \"PLAIN\" NIL NIL NIL \"7BIT\" {2}\r\n"
                            "12 1))\r\n4 OK\r\n");
    EXPECT_EQ(imap->fetchStructure(1), 1);
    ASSERT_EQ(imap->bodyParts().size(), 1u);
    EXPECT_EQ(imap->bodyParts()[0].size, 12);
}

TEST(ImapReader, SinglePartsAreDecodedIntoTheSink) {
    auto imap = selected(1, "* 1 FETCH (UID 101 BODY[2] {18}\r\naGVsbG8g\r\nd29ybGQ=)\r\n4 OK\r\n"
                            "* 1 FETCH (UID 101 BODY[1]<0.4> {4}\r\na=3D)\r\n5 OK\r\n");
    std::string out;
    imap->setBodySink([&out](const char* d, size_t n) { out.append(d, n); return true; });
    EXPECT_EQ(imap->retrievePart(1, "2", "BASE64", 0, 0), 1);
    EXPECT_EQ(out, "hello world");
    out.clear();
    EXPECT_EQ(imap->retrievePartByUid(101, "1", "quoted-printable", 0, 4), 1);
    EXPECT_EQ(out, "a=");
    EXPECT_EQ(imap->sent, "4 FETCH 1 (UID BODY[2])\r\n5 UID FETCH 101 (UID BODY[1]<0.4>)\r\n");
}

TEST(ImapReader, IdleSeesNewMail) {
    auto imap = selected(1, "+ idling\r\n* 2 EXISTS\r\n4 OK done\r\n");
    EXPECT_EQ(imap->idle(), 1);
    EXPECT_EQ(imap->readResponse(), 1);  // what idleWait reads once input is there
    EXPECT_EQ(imap->messageCount(), 2);
    EXPECT_EQ(imap->idleEnd(), 0);
    EXPECT_EQ(imap->idleDone(), 1);
    EXPECT_EQ(imap->sent, "4 IDLE\r\nDONE\r\n");
}

} // namespace
} // namespace qarvel
