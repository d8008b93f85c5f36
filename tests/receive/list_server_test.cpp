// The mailing-list server: how requests are judged, the delivery-report reader, the index
// line, and whole list runs over a folder of message files (replies into a file, or to a
// scripted SMTP server that drops half-way): the log lines, the subscriber file, two runs at
// once, and a distribution that is cut off and finished by the next run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "receive/list_request.h"
#include "receive/subscriber_file.h"
#include "support/run_program.h"
#include "support/scripted_server.h"
#include "support/temp_folder.h"
#include "support/text_lines.h"

namespace qarvel {
namespace {

using test::ProgramOptions;
using test::ProgramResult;
using test::ScriptedServer;
using test::TempFolder;
using test::linesOf;
using test::linesStartingWith;

TEST(ListRequests, JudgedBySubjectAndSender) {
    struct Row {
        const char* subject;
        const char* sender;
        bool manual;
        ListRequest expected;
    } rows[] = {
        {"help me", "a@x.org", false, ListRequest::kHelp},
        {"SUBSCRIBE", "a@x.org", false, ListRequest::kSubscribe},
        {"subscribe please", "a@x.org", false, ListRequest::kSubscribe},
        {"Unsubscribe", "a@x.org", false, ListRequest::kUnsubscribe},
        {"Undeliverable: hello", "postmaster@x.org", false, ListRequest::kBounce},
        {"Returned mail: see transcript", "x@x.org", false, ListRequest::kBounce},
        {"Mail delivery failed", "x@x.org", false, ListRequest::kBounce},
        {"Hello", "MAILER-DAEMON@mx.x.org (Mail Delivery System)", false, ListRequest::kBounce},
        {"fetch readme.txt", "a@x.org", false, ListRequest::kFetch},
        {"GET readme.txt", "a@x.org", false, ListRequest::kFetch},
        {"files readme.txt", "a@x.org", false, ListRequest::kFetch},  // the -fetch: word
        {"fetch index", "a@x.org", false, ListRequest::kIndex},
        {"files index ", "a@x.org", false, ListRequest::kIndex},
        {"fetch indexes.txt", "a@x.org", false, ListRequest::kFetch},
        {"dir", "a@x.org", false, ListRequest::kIndex},
        {"Index of files", "a@x.org", false, ListRequest::kIndex},
        {"fetchable news", "a@x.org", false, ListRequest::kDistribution},
        {"Get ", "a@x.org", false, ListRequest::kFetch},
        {"Meeting on Friday", "a@x.org", false, ListRequest::kDistribution},
        {"", "a@x.org", false, ListRequest::kDistribution},
        // A list run by hand passes requests and reports on as contributions.
        {"subscribe", "a@x.org", true, ListRequest::kDistribution},
        {"Undeliverable: hello", "MAILER-DAEMON@x.org", true, ListRequest::kDistribution},
        {"help", "a@x.org", true, ListRequest::kHelp},
        {"fetch a.txt", "a@x.org", true, ListRequest::kFetch},
    };
    for (const Row& r : rows)
        EXPECT_EQ(judgeListRequest(r.subject, r.sender, r.manual, "/srv/lists/files/"), r.expected)
            << r.subject << " manual=" << r.manual;
}

// The one address a request may add to or remove from the subscriber file.
TEST(ListRequests, OnlyOneCleanAddressPerRequest) {
    struct Row {
        const char* from;
        const char* address;  // nullptr: refused
    } rows[] = {
        {"Ann <ann@x.org>", "ann@x.org"},
        {"ann@x.org (Ann)", "ann@x.org"},
        {"  ann@x.org", "ann@x.org"},
        {"eve@x.org, victim@y.org", nullptr},
        {"\"Eve, E\" <eve@x.org>, victim@y.org", nullptr},
        // Mailboxes counted by the grammar: a second address needs no comma.
        {"<eve@x.org> <victim@y.org>", nullptr},
        {"eve@x.org <victim@y.org>", nullptr},
        {"Eve <eve@x.org> victim@y.org", nullptr},
        {"eve@x.org victim@y.org", nullptr},
        {"Eve <eve@x.org", nullptr},
        {"\"Ann <a@x.org>, B\" (a <b@y.org>) <ann@x.org>", "ann@x.org"},
        {"J. Smith <js@x.org> (work)", "js@x.org"},
        {"Ann (unended <b@y.org>", nullptr},
        {"ann.x.org", nullptr},
        {"@x.org", nullptr},
        {"ann@", nullptr},
        {"ann@x@y.org", nullptr},
        {"<ann\r\nRCPT TO:<b@y.org>@x.org>", nullptr},
        {"<an n@x.org>", nullptr},
        {"<ann\x7f@x.org>", nullptr},
        {"", nullptr},
    };
    for (const Row& r : rows) {
        String address;
        EXPECT_EQ(requestAddress(r.from, address), r.address != nullptr) << r.from;
        if (r.address) {
            EXPECT_EQ(address.str(), r.address) << r.from;
        }
    }
    EXPECT_FALSE(cleanAddress(std::string(250, 'a') + "@x.org"));
}

TEST(ListRequests, FetchedNamesAndNamesThatLeaveTheFolder) {
    EXPECT_EQ(fetchedName("fetch readme.txt").str(), "readme.txt");
    EXPECT_EQ(fetchedName("  get   sub/a.txt trailing words").str(), "sub/a.txt");
    EXPECT_EQ(fetchedName("fetch").str(), "");
    EXPECT_EQ(fetchedName("fetch " + std::string(2000, 'n')).length(), 1023u);
    for (const char* bad : {"../secret", "a/../../b", "..", "a\\b", "/etc/passwd"})
        EXPECT_TRUE(leavesFolder(bad)) << bad;
    // "a..txt" holds two full stops in a row: refused too, as the rule is written.
    for (const char* name : {"readme.txt", "sub/a.txt", "a..txt"})
        EXPECT_EQ(leavesFolder(name), std::string(name) == "a..txt");
}

TEST(ListRequests, FailedRecipientOfADeliveryReport) {
    struct Row {
        const char* report;
        const char* expected;  // null: no failed recipient
    } rows[] = {
        {"Reporting-MTA: dns; mx.x.org\r\n\r\nFinal-Recipient: rfc822; gone@y.org\r\n"
         "Original-Recipient: rfc822;gone@y.org\r\nAction: failed\r\nStatus: 5.1.1\r\n",
         "gone@y.org"},
        {"Final-Recipient: RFC822;  Gone@Y.org  \nAction: Failed\n", "Gone@Y.org"},
        {"Final-Recipient: rfc822; late@y.org\r\nAction: delayed\r\n", nullptr},
        {"Action: failed\r\nStatus: 5.0.0\r\n", nullptr},
        {"Final-Recipient: x400; whatever\r\nAction: failed\r\n", nullptr},
        {"", nullptr},
    };
    for (const Row& r : rows) {
        String address;
        bool found = failedRecipient(r.report, address);
        EXPECT_EQ(found, r.expected != nullptr) << r.report;
        if (r.expected) {
            EXPECT_EQ(address.str(), r.expected);
        }
    }
}

TEST(ListRequests, IndexLineLayout) {
    std::string line = indexLine("sub/a.txt", 5000, 0).str();
    // Name, blank, full stops to 50 characters, blank, "%8ld" KiB, "K   ", the date.
    std::string start = "sub/a.txt " + std::string(41, '.') + "        4K   ";
    EXPECT_EQ(line.substr(0, start.size()), start);
    EXPECT_EQ(line.size(), start.size() + 24 + 2);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    std::string longName(60, 'n');
    EXPECT_EQ(indexLine(longName, 0, 0).str().substr(0, 62), longName + " " + " ");
}

// ------------------------------------------------------------------ whole runs

ProgramResult runList(const std::vector<std::string>& args, double seconds = 60) {
    ProgramOptions options;
    options.timeLimitSeconds = seconds;
    ProgramResult r = test::runProgram(test::qarvelBinary(), args, options);
    EXPECT_FALSE(r.timedOut);
    return r;
}

// Writes one message file into the folder box of tmp.
void putMessage(const TempFolder& tmp, const std::string& name, const std::string& from,
                const std::string& subject, const std::string& body = "text\r\n",
                const std::string& extra = "") {
    tmp.put("box/" + name, "From: " + from + "\r\nTo: list@x.org\r\nSubject: " + subject + "\r\n" +
                               extra + "\r\n" + body);
}

// The file sender's output with the quoted-printable soft line breaks taken out.
std::string joinedOutput(const TempFolder& tmp, const std::string& name) {
    std::string out = tmp.read(name);
    for (size_t at; (at = out.find("=\r\n")) != std::string::npos;) out.erase(at, 3);
    return out;
}

TEST(ListServer, RequestCycleLogsRepliesAndSubscriberFile) {
    TempFolder tmp;
    mkdir(tmp.file("box").c_str(), 0755);
    mkdir(tmp.file("fetch").c_str(), 0755);
    tmp.put("fetch/readme.txt", "read me\n");
    tmp.put("secret.txt", "not for the list\n");
    tmp.put("subs.txt", "# the list\nold@x.org\nb@x.org\nkeep@x.org\n");
    putMessage(tmp, "01", "A <a@x.org>", "SUBSCRIBE");
    putMessage(tmp, "02", "a@x.org", "subscribe");
    putMessage(tmp, "03", "list@x.org", "subscribe");
    putMessage(tmp, "04", "c@x.org", "unsubscribe");
    putMessage(tmp, "05", "B@X.org", "unsubscribe");
    // Delivery reports about a copy the list sent: one in plain text from the mailer daemon,
    // one of RFC 3464 with the returned message as its last part.
    putMessage(tmp, "06", "MAILER-DAEMON@x.org", "Undelivered Mail Returned to Sender",
               "Final-Recipient: rfc822; old@x.org\r\nAction: failed\r\n\r\nX-Loop: list@x.org\r\n");
    putMessage(tmp, "07", "postmaster@x.org", "Undeliverable: x",
               "--R\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; x.org\r\n\r\n"
               "Final-Recipient: rfc822; never@x.org\r\nAction: failed\r\n\r\n--R\r\n"
               "Content-Type: message/rfc822\r\n\r\nFrom: c@x.org\r\nX-Loop: list@x.org\r\nSubject: News\r\n\r\n"
               "news\r\n--R--\r\n",
               "MIME-Version: 1.0\r\nContent-Type: multipart/report; report-type=delivery-status; boundary=\"R\"\r\n");
    putMessage(tmp, "08", "c@x.org", "fetch ../secret.txt");
    putMessage(tmp, "09", "c@x.org", "get missing.txt");
    putMessage(tmp, "10", "c@x.org", "fetch readme.txt");
    putMessage(tmp, "11", "c@x.org", "help");
    putMessage(tmp, "12", "c@x.org", "fetch");
    // Requests that name no single clean address (the forms: ListRequests), and mail the list
    // sent itself.
    putMessage(tmp, "13", "eve@x.org, victim@y.org", "subscribe");
    putMessage(tmp, "14", "\"a, b\" <a@x.org>, victim@y.org", "fetch readme.txt");
    putMessage(tmp, "17", "c@x.org", "News", "text\r\n", "X-Loop: LIST@x.org\r\n");
    putMessage(tmp, "18", "The list <list@x.org>", "News");
    // Reports that may remove nobody: not a delivery report, and one about a message the list
    // never sent.
    putMessage(tmp, "19", "eve@x.org", "Undeliverable",
               "Final-Recipient: rfc822; keep@x.org\r\nAction: failed\r\nX-Loop: list@x.org\r\n");
    putMessage(tmp, "20", "MAILER-DAEMON@x.org", "Undeliverable", "Final-Recipient: rfc822; keep@x.org\r\nAction: failed\r\n");

    ProgramResult r = runList({"-tolist:" + tmp.file("subs.txt"), "-mail", "-file:" + tmp.file("box"),
                               "-listserv:list@x.org", "-fetch:" + tmp.file("fetch"), "-mf",
                               "-host:" + tmp.file("out.txt"), "-quiet"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> expected = {
        "dummy/subscribe: a@x.org",
        "dummy/subscribe (ignored): a@x.org",
        "dummy/circular: list@x.org",
        "dummy/unsubscribe (ignored): c@x.org",
        "dummy/unsubscribe: B@X.org",
        "dummy/undelivered (unsubscribed): old@x.org",
        "dummy/undelivered (ignored): never@x.org",
        "dummy/fetch: c@x.org who ../secret.txt",
        "dummy/fetch: c@x.org who missing.txt",
        "dummy/fetch: c@x.org who readme.txt",
        "dummy/unknown: fetch",
        "dummy/unknown or invalid: subscribe",
        "dummy/unknown or invalid: fetch readme.txt",
        "dummy/circular: c@x.org",
        "dummy/circular: list@x.org",
        "dummy/undelivered: eve@x.org",
        "dummy/undelivered: MAILER-DAEMON@x.org",
    };
    EXPECT_EQ(linesOf(r.out), expected);
    EXPECT_EQ(tmp.read("subs.txt"), "keep@x.org\na@x.org\n");

    std::string out = joinedOutput(tmp, "out.txt");
    for (const char* text : {"You are already subscribed!",
                             "To be removed from this list reply to this message with a subject of just 'unsubscribe'",
                             "You were not subscribed!",
                             "To be added back to this list reply to this message with a subject of just 'subscribe'",
                             "SORRY, can't do that: ../secret.txt", "UNKNOWN FILE - 'missing.txt'",
                             "OK - 'readme.txt'", "Subject: RE: fetch readme.txt"})
        EXPECT_NE(out.find(text), std::string::npos) << text;
    EXPECT_EQ(out.find("not for the list"), std::string::npos);
    EXPECT_EQ(out.find("victim"), std::string::npos);
    EXPECT_EQ(out.find("Subject: News"), std::string::npos);
    // Answers are marked as made by a program, and as the list's own.
    EXPECT_EQ(linesStartingWith(out, "Auto-Submitted: auto-replied").size(), 7u);
    EXPECT_EQ(linesStartingWith(out, "X-Loop: list@x.org").size(), 7u);
    // Replies: subscribe twice, unsubscribe twice, three fetches; none to the list itself,
    // to a report or to help.
    EXPECT_EQ(linesStartingWith(out, "From: list@x.org").size(), 7u);
}

TEST(ListServer, IndexOfAnEmptyFolderAndDistributionToSubscribers) {
    TempFolder tmp;
    mkdir(tmp.file("box").c_str(), 0755);
    mkdir(tmp.file("fetch").c_str(), 0755);
    tmp.put("subs.txt", "one@x.org,two@x.org\nthree@x.org\n");
    putMessage(tmp, "1", "c@x.org", "index");
    putMessage(tmp, "2", "Carol <c@x.org>", "News of the day", "first line\r\nlast line\r\n",
               "Message-ID: <news.1@x.org>\r\n");
    ProgramResult r = runList({"-tolist:" + tmp.file("subs.txt"), "-mail", "-file:" + tmp.file("box"),
                               "-listserv:list@x.org", "-fetch:" + tmp.file("fetch"), "-mf",
                               "-host:" + tmp.file("out.txt"), "-priv", "-owner:boss@x.org", "-quiet", "-rm"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(linesOf(r.out), (std::vector<std::string>{"dummy/index: c@x.org from list@x.org",
                                                      "dummy/distribution: c@x.org (News of the day)"}));
    std::string out = tmp.read("out.txt");
    EXPECT_NE(out.find("FILE INDEX:\r\n\r\n"), std::string::npos);
    EXPECT_NE(out.find("Precedence: bulk"), std::string::npos);
    EXPECT_NE(out.find("To: list@x.org"), std::string::npos);
    EXPECT_NE(out.find("Reply-To: boss@x.org"), std::string::npos);
    for (const char* line : {"List-Id: <list.x.org>", "List-Post: <mailto:list@x.org>",
                             "List-Unsubscribe: <mailto:list@x.org?subject=unsubscribe>",
                             "Errors-To: boss@x.org"})
        EXPECT_EQ(linesStartingWith(out, line).size(), 1u) << line;
    EXPECT_EQ(linesStartingWith(out, "X-Loop: list@x.org").size(), 2u) << "the index and the copy";
    // The copy keeps the contribution's Message-ID.
    EXPECT_EQ(linesStartingWith(out, "Message-ID: ").size(), 1u);
    EXPECT_EQ(linesStartingWith(out, "Message-ID: <news.1@x.org>").size(), 1u);
    EXPECT_NE(out.find("first line\r\nlast line"), std::string::npos);
    EXPECT_EQ(out.find("one@x.org"), std::string::npos) << "subscribers are blind copies";
    // Every message was handled, so -rm took them all; no progress file stays behind.
    EXPECT_EQ(tmp.read("box/1"), "");
    EXPECT_EQ(tmp.read("box/2"), "");
    struct stat st;
    EXPECT_NE(stat(tmp.file("subs.txt.progress").c_str(), &st), 0);
}

TEST(ListServer, TwoRunsAtOnceLoseNoSubscription) {
    TempFolder tmp;
    const int perRun = 200;
    for (const char* run : {"a", "b"}) {
        mkdir(tmp.file(std::string("box") + run).c_str(), 0755);
        for (int i = 0; i < perRun; ++i) {
            std::string address = std::string(run) + std::to_string(i) + "@x.org";
            tmp.put(std::string("box") + run + "/" + std::to_string(i),
                    "From: " + address + "\r\nSubject: subscribe\r\n\r\n");
        }
    }
    auto start = [&](const char* run) {
        return std::async(std::launch::async, [&tmp, run] {
            return runList({"-tolist:" + tmp.file("subs.txt"), "-mail",
                            "-file:" + tmp.file(std::string("box") + run), "-listserv:list@x.org", "-mf",
                            "-host:" + tmp.file(std::string("out-") + run), "-quiet"},
                           120);
        });
    };
    auto a = start("a");
    auto b = start("b");
    ProgramResult ra = a.get(), rb = b.get();
    EXPECT_EQ(ra.exitCode, 0) << ra.err;
    EXPECT_EQ(rb.exitCode, 0) << rb.err;
    std::vector<std::string> subscribers = linesOf(tmp.read("subs.txt"));
    std::set<std::string> unique(subscribers.begin(), subscribers.end());
    EXPECT_EQ(subscribers.size(), 2u * perRun);
    EXPECT_EQ(unique.size(), 2u * perRun);
    EXPECT_EQ(linesStartingWith(ra.out + rb.out, "dummy/subscribe: ").size(), 2u * perRun);
}

using Script = std::vector<test::ScriptStep>;

// A healthy SMTP dialogue for transactions of the given recipient counts (a transaction after
// the first starts with RSET); with dropAfter set, one more transaction follows and the server
// resets the connection after that many of its recipients.
// dropAfter: the connection drops after that many RCPTs of one transaction more; kRefuseLast: the
// last transaction's data is refused and the connection drops.
constexpr int kRefuseLast = -2;
Script distributionDialogue(const std::vector<int>& transactions, int dropAfter = -1, bool pipelining = false) {
    using namespace test;
    Script s = {send("220 list.test ready\r\n"), expect(pipelining ? "EHLO" : "HELO"),
                send(pipelining ? "250-list.test\r\n250 PIPELINING\r\n" : "250 ok\r\n")};
    // Pipelining, the reply to a transaction's "." (owed) waits until the next one's RSET and
    // MAIL came: they must go out with the "." and are answered together.
    std::string owed;
    auto begin = [&](bool first) {
        if (!first) s.push_back(expect("RSET"));
        if (!first && !pipelining) s.push_back(send("250 ok\r\n"));
        s.push_back(expect("MAIL"));
        s.push_back(send(owed + (!first && pipelining ? "250 ok\r\n250 ok\r\n" : "250 ok\r\n")));
        owed.clear();
    };
    auto rcpt = [&s](int count) {
        for (int i = 0; i < count; ++i) {
            s.push_back(expect("RCPT"));
            s.push_back(send("250 ok\r\n"));
        }
    };
    for (size_t k = 0; k < transactions.size(); ++k) {
        begin(k == 0);
        rcpt(transactions[k]);
        s.push_back(expect("DATA"));
        s.push_back(send("354 go\r\n"));
        s.push_back(expectUntil(".\r\n"));
        owed = dropAfter == kRefuseLast && k + 1 == transactions.size() ? "554 refused\r\n" : "250 queued\r\n";
        if (!pipelining || (k + 1 == transactions.size() && dropAfter == -1)) s.push_back(send(owed));
        if (!pipelining) owed.clear();
    }
    if (dropAfter == kRefuseLast) {
        if (pipelining) s.insert(s.end(), {expect("RSET"), send(owed)});
        s.push_back(reset());
    } else if (dropAfter >= 0) {
        begin(transactions.empty());
        rcpt(dropAfter);
        s.push_back(reset());
    } else {
        s.push_back(expect("QUIT"));
        s.push_back(send("221 bye\r\n"));
    }
    return s;
}

std::vector<std::string> recipients(const std::string& dialogue) {
    std::vector<std::string> out;
    for (const std::string& l : linesStartingWith(dialogue, "RCPT TO:<")) out.push_back(l.substr(9, l.find('>') - 9));
    return out;
}

// A contribution in a mailbox folder for a list of ten subscribers s0..s9, sent three a
// transaction.
struct Distribution {
    explicit Distribution(bool pipelining) : pipelining(pipelining) {
        mkdir(tmp.file("box").c_str(), 0755);
        std::string subscribers;
        for (int i = 0; i < 10; ++i) subscribers += "s" + std::to_string(i) + "@x.org\n";
        tmp.put("subs.txt", subscribers);
        putMessage(tmp, "1", "c@x.org", "Big news", "text\r\n", "Message-ID: <big@x.org>\r\n");
    }
    std::vector<std::string> args(int port) const {
        return {"-tolist:" + tmp.file("subs.txt"), "-mail", "-file:" + tmp.file("box"), "-listserv:list@x.org",
                "-host:127.0.0.1", "-port:" + std::to_string(port), "-limit:3", "-rm", "-quiet",
                pipelining ? "-esmtp" : "-quiet"};
    }
    TempFolder tmp;
    bool pipelining;
};

TEST(ListServer, DistributionCutOffHalfWayIsFinishedByTheNextRun) {
    // Lockstep, and pipelined: there the next transaction's envelope goes with the final "."
    // of the one before, and is read ahead of its turn.
    for (bool pipelining : {false, true}) {
        SCOPED_TRACE(pipelining ? "pipelining" : "lockstep");
        Distribution d(pipelining);
        TempFolder& tmp = d.tmp;
        auto args = [&](int port) { return d.args(port); };

        // Two transactions of three go through, the third is cut off after one recipient.
        std::vector<int> firstRun = {3, 3};
        ScriptedServer dropping(distributionDialogue(firstRun, 1, pipelining));
        ProgramResult r = runList(args(dropping.port()));
        std::string seen = dropping.finish();
        EXPECT_EQ(dropping.error(), "");
        EXPECT_EQ(r.exitCode, 1);
        // Delivery reports come back to the list, not to the contributor.
        EXPECT_EQ(linesStartingWith(seen, "MAIL FROM:").size(), 3u);
        EXPECT_EQ(linesStartingWith(seen, "MAIL FROM:<list@x.org>").size(), 3u) << seen;
        EXPECT_NE(r.err.find("4 of 10 subscribers not reached"), std::string::npos) << r.err;
        EXPECT_EQ(linesStartingWith(r.err, "Not reached: "),
                  (std::vector<std::string>{"Not reached: s6@x.org", "Not reached: s7@x.org",
                                            "Not reached: s8@x.org", "Not reached: s9@x.org"}));
        EXPECT_NE(r.err.find("Message #1 is kept"), std::string::npos);
        EXPECT_EQ(tmp.read("box/1").empty(), false) << "the contribution must stay for the rerun";
        EXPECT_EQ(tmp.read("subs.txt.progress"),
                  "message-id <big@x.org>\ns0@x.org\ns1@x.org\ns2@x.org\ns3@x.org\ns4@x.org\ns5@x.org\n");

        // The rerun sends to the four that were missed, once each, and cleans up.
        ScriptedServer healthy(distributionDialogue({3, 1}, -1, pipelining));
        r = runList(args(healthy.port()));
        seen = healthy.finish();
        EXPECT_EQ(healthy.error(), "");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(recipients(seen), (std::vector<std::string>{"s6@x.org", "s7@x.org", "s8@x.org", "s9@x.org"}));
        EXPECT_EQ(linesOf(r.out), (std::vector<std::string>{"dummy/distribution: c@x.org (Big news)"}));
        struct stat st;
        EXPECT_NE(stat(tmp.file("subs.txt.progress").c_str(), &st), 0);
        EXPECT_NE(stat(tmp.file("box/1").c_str(), &st), 0);
    }
}

TEST(ListServer, RefusedDataStopsTheDistributionAndNamesEveryoneNotReached) {
    // The second transaction's data is refused: pipelined, the third's subscribers were read
    // ahead already, and they are named all the same. With an owner, delivery reports go to
    // the owner, in the read-ahead envelope too.
    for (bool pipelining : {false, true}) {
        Distribution d(pipelining);
        ScriptedServer refusing(distributionDialogue({3, 3}, kRefuseLast, pipelining));
        std::vector<std::string> args = d.args(refusing.port());
        args.push_back("-owner:boss@x.org");
        ProgramResult r = runList(args);
        const std::string seen = refusing.finish();
        EXPECT_EQ(linesStartingWith(seen, "MAIL FROM:<boss@x.org>").size(), pipelining ? 3u : 2u) << seen;
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("7 of 10 subscribers not reached"), std::string::npos) << r.err;
        EXPECT_EQ(linesStartingWith(r.err, "Not reached: ").size(), 7u) << r.err;
        EXPECT_EQ(d.tmp.read("subs.txt.progress"), "message-id <big@x.org>\ns0@x.org\ns1@x.org\ns2@x.org\n");
    }
}

// A run that reads the list's mailbox over POP3 with one -host: and -port: for everything: the
// answers go to that host's SMTP port, never to the POP3 port. An answer the server refuses
// keeps its request (the change is on disk already) and the run ends with 1.
TEST(ListServer, AnswersGoToTheSmtpPortAndARefusedAnswerKeepsItsRequest) {
    using namespace test;
    TempFolder tmp;
    const std::string subscribe = "From: a@x.org\r\nSubject: subscribe\r\n\r\nplease\r\n";
    const std::string forged = "From: eve@x.org, victim@y.org\r\nSubject: subscribe\r\n\r\n";
    std::string listing = "+OK\r\n1 " + std::to_string(subscribe.size()) + "\r\n2 " +
                          std::to_string(forged.size()) + "\r\n.\r\n";
    ScriptedServerOptions at2;
    at2.address = "127.0.0.2";
    ScriptedServer pop3({send("+OK ready\r\n"), expect("USER reader"), send("+OK\r\n"),
                         expect("PASS secret"), send("+OK\r\n"), expect("STAT"), send("+OK 2 99\r\n"),
                         expect("LIST"), send(listing), expect("RETR 1"),
                         send("+OK\r\n" + subscribe + ".\r\n"), expect("RETR 2"),
                         send("+OK\r\n" + forged + ".\r\n"), expect("DELE 2"), send("+OK\r\n"),
                         expect("QUIT"), send("+OK bye\r\n")},
                        at2);
    ScriptedServerOptions smtpPort = at2;
    smtpPort.port = 25;
    ScriptedServer smtp({send("220 ready\r\n"), expect("HELO"), send("250 ok\r\n"),
                         expect("MAIL FROM:<list@x.org>"), send("451 try again later\r\n"),
                         expect("QUIT"), send("221 bye\r\n")},
                        smtpPort);
    if (!pop3.listening() || !smtp.listening()) GTEST_SKIP() << "127.0.0.2:25 is not free here";
    ProgramResult r = runList({"-host:127.0.0.2", "-port:" + pop3.portText(), "-user:reader", "-pass:secret",
                               "-tolist:" + tmp.file("subs.txt"), "-listserv:list@x.org", "-rm", "-quiet"});
    std::string popSeen = pop3.finish();
    smtp.finish();
    EXPECT_EQ(pop3.error(), "") << popSeen << r.err;
    EXPECT_EQ(smtp.error(), "");
    EXPECT_EQ(r.exitCode, 1) << r.err << r.out;
    EXPECT_EQ(linesOf(r.out), (std::vector<std::string>{"reader/subscribe: a@x.org",
                                                      "reader/unknown or invalid: subscribe"}));
    EXPECT_NE(r.err.find("Message #1 is kept on the server"), std::string::npos) << r.err;
    EXPECT_EQ(tmp.read("subs.txt"), "a@x.org\n");
}

// One rule for every kind of request: an answer refused for good (5xx to the recipient or
// after the data) gives the request up (-rm removes it); a temporary refusal keeps it for the
// next run, which ends with 1.
TEST(ListServer, ARefusedAnswerEndsEveryKindOfRequestAlike) {
    using namespace test;
    const Script dataRefused = {send("250 ok\r\n"), expect("DATA"), send("354 go\r\n"), expectUntil(".")};
    struct Refusal {
        const char* name;
        Script tail;  // from the reply to RCPT on
        bool givenUp;
    } refusals[] = {
        {"4xx after the data", dataRefused, false},
        {"5xx after the data", dataRefused, true},
        {"5xx to the recipient", {send("550 no such user\r\n"), expect("RSET"), send("250 reset\r\n")}, true},
    };
    refusals[0].tail.push_back(send("451 try again later\r\n"));
    refusals[1].tail.push_back(send("554 rejected\r\n"));
    for (const char* subject : {"subscribe", "unsubscribe", "fetch readme.txt", "index"}) {
        for (const Refusal& refusal : refusals) {
            SCOPED_TRACE(std::string(subject) + ", " + refusal.name);
            TempFolder tmp;
            mkdir(tmp.file("box").c_str(), 0755);
            mkdir(tmp.file("fetch").c_str(), 0755);
            tmp.put("fetch/readme.txt", "read me\n");
            putMessage(tmp, "1", "c@x.org", subject);
            Script script = {send("220 list.test\r\n"), expect("HELO"), send("250 ok\r\n"), expect("MAIL"),
                             send("250 ok\r\n"), expect("RCPT TO:<c@x.org>")};
            script.insert(script.end(), refusal.tail.begin(), refusal.tail.end());
            script.insert(script.end(), {expect("QUIT"), send("221 bye\r\n")});
            ScriptedServer smtp(script);
            ProgramResult r = runList({"-tolist:" + tmp.file("subs.txt"), "-mail", "-file:" + tmp.file("box"),
                                       "-listserv:list@x.org", "-fetch:" + tmp.file("fetch"), "-host:127.0.0.1",
                                       "-port:" + smtp.portText(), "-rm", "-quiet"});
            smtp.finish();
            EXPECT_EQ(smtp.error(), "");
            struct stat st;
            EXPECT_EQ(stat(tmp.file("box/1").c_str(), &st) == 0, !refusal.givenUp) << r.err;
            EXPECT_EQ(r.exitCode, refusal.givenUp ? 0 : 1) << r.err;
            EXPECT_EQ(r.err.find("The answer to c@x.org was refused for good") != std::string::npos, refusal.givenUp)
                << r.err;
        }
    }
}

TEST(SubscriberFile, ReadsListsWrittenEitherWayAndKeepsPermissions) {
    TempFolder tmp;
    std::string path = tmp.put("subs", "  a@x.org , b@x.org\r\n\r\n# c@x.org\n\nd@x.org");
    chmod(path.c_str(), 0600);
    SubscriberFile file(path);
    std::vector<String> list;
    ASSERT_EQ(file.read(list), 1);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[1].str(), "b@x.org");
    EXPECT_EQ(findAddress(list, "Dee <D@X.ORG>"), 2);
    EXPECT_EQ(findAddress(list, "c@x.org"), -1);
    EXPECT_EQ(file.update([](std::vector<String>&) { return false; }), 0);
    EXPECT_EQ(file.update([](std::vector<String>& l) { l.erase(l.begin()); return true; }), 1);
    EXPECT_EQ(tmp.read("subs"), "b@x.org\nd@x.org\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // An update puts a new file in place in one step (as root too, where no permission can
    // stop a write in place): a reader that opened the old one reads it whole, and no
    // temporary file is left behind.
    int reader = open(path.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(file.update([](std::vector<String>& l) {
                  for (int i = 0; i < 5000; ++i) l.push_back("new" + std::to_string(i) + "@x.org");
                  return true;
              }),
              1);
    struct stat now;
    ASSERT_EQ(stat(path.c_str(), &now), 0);
    EXPECT_NE(now.st_ino, st.st_ino);
    char old[64] = {};
    EXPECT_EQ(pread(reader, old, sizeof old - 1, 0), 16);
    EXPECT_STREQ(old, "b@x.org\nd@x.org\n");
    close(reader);
    ASSERT_EQ(file.read(list), 1);
    EXPECT_EQ(list.size(), 5002u);
    EXPECT_EQ(tmp.names(), "subs subs.lock");
    ASSERT_EQ(file.update([](std::vector<String>& l) { l.resize(2); return true; }), 1);

    // A missing file is an empty list; a folder that cannot be written keeps the old file.
    SubscriberFile missing(tmp.file("none"));
    EXPECT_EQ(missing.read(list), 1);
    EXPECT_TRUE(list.empty());
    chmod(tmp.path.c_str(), 0500);
    if (access(tmp.file("probe").c_str(), F_OK) != 0 && geteuid() != 0) {
        EXPECT_EQ(file.update([](std::vector<String>& l) { l.clear(); return true; }), -1);
        EXPECT_EQ(tmp.read("subs"), "b@x.org\nd@x.org\n");
    }
    chmod(tmp.path.c_str(), 0700);
}

} // namespace
} // namespace qarvel
