// DeliveryRound: a run's messages made durable a few at a time, then recorded and deleted.
#include "receive/delivery_round.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "receive/file_mailbox_reader.h"
#include "receive/imap_reader.h"
#include "receive/mailbox_reader.h"

namespace qarvel {

namespace {

// Standard output, when it is a regular file: what was shown of the message is part of what
// must last before the message goes.
class StandardOutput : public SharedOutput {
public:
    int sync() override {
        if (fflush(stdout) != 0) return errno ? errno : EIO;
        return ::fsync(STDOUT_FILENO) == 0 ? 0 : errno;
    }
    std::string describe() const override { return "standard output"; }
};

// The account of the -seen: file for this run's mailbox, and the beginning that the accounts
// it replaces share with it (an IMAP folder of another UIDVALIDITY).
void seenAccount(const ReceiveOptions& o, MailboxReader& reader, String& account, String& family) {
    if (dynamic_cast<FileMailboxReader*>(&reader)) {
        account = seenAccount("file", String(), o.host, String());
    } else if (o.receive.imap) {
        family = seenAccount("imap", o.receive.user, o.host, o.port, mailboxOf(o)) + ";UIDVALIDITY=";
        account = family + std::to_string(static_cast<unsigned>(reader.uidValidity())).c_str();
    } else {
        account = seenAccount("pop3", o.receive.user, o.host, o.port);
    }
}

} // namespace

bool DeliveryRound::open(MailboxReader& reader, int count) {
    const ReceiveSettings& r = o_.receive;
    durable_ = (r.remove && !r.keepMessages) || !r.moveTo.empty() || !r.seenFile.empty();
    if ((!r.maildir.empty() || !r.mboxFile.empty()) && !r.partName.empty()) {
        fputs("-maildir: and -mboxfile: take whole messages, -part: only one part of each\n", stderr);
        return false;
    }
    if (!r.maildir.empty() && !maildir_.emplace().open(r.maildir)) return false;
    if (!r.mboxFile.empty()) {
        mbox_ = std::make_unique<MboxFile>();
        if (!mbox_->open(r.mboxFile, o_.workingFolder)) return false;
    }
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode)) stdout_ = std::make_unique<StandardOutput>();
    if (r.seenFile.empty()) return true;
    if (reader.listUniqueIds() < 1) {
        fputs("The server gives no lasting message ids (UIDL); -seen: cannot tell new messages from old\n", stderr);
        return false;
    }
    String account, family;
    seenAccount(o_, reader, account, family);
    if (!seen_.emplace().load(r.seenFile, account, family)) return false;
    // What the server holds no more is forgotten; a search shows only part of the folder.
    const ImapReader* imap = dynamic_cast<const ImapReader*>(&reader);
    if (!imap || !imap->ordered()) {
        std::vector<String> present;
        for (int n = 1; n <= count; ++n) present.push_back(reader.uniqueId(n));
        seen_->setPresent(present);
    }
    return true;
}

bool DeliveryRound::seenBefore(MailboxReader& reader, int n) const {
    if (!seen_) return false;
    String id = reader.uniqueId(n);
    return !id.empty() && seen_->contains(id);
}

void DeliveryRound::begin(MailboxReader& reader, int n, bool copies) {
    if (inFlight_.empty()) started_ = time(nullptr);
    outputs_.begin();
    InFlight m;
    m.n = n;
    if (seen_) m.seenId = reader.uniqueId(n);
    inFlight_.push_back(m);
    if (!copies) return;
    if (maildir_) maildir_->begin();
    if (mbox_) mbox_->begin();
    copying_ = true;
}

void DeliveryRound::copy(const char* data, size_t length) {
    if (!copying_) return;
    if (maildir_) maildir_->write(data, length);
    if (mbox_) mbox_->write(data, length);
}

bool DeliveryRound::deliver(MailboxReader& reader) {
    if (!copying_) return true;
    copying_ = false;
    const int n = current().n;
    bool ok = !maildir_ || maildir_->end(outputs_, n);
    if (mbox_) {
        // The "From " line names the envelope sender where the server kept it.
        String returnPath = reader.headerValue("Return-Path");
        if (!mbox_->end(returnPath.empty() ? reader.sender() : returnPath, n)) ok = false;
        else if (durable_) outputs_.touch(*mbox_);
    }
    return ok;
}

void DeliveryRound::abandon() {
    copying_ = false;
    if (maildir_) maildir_->abandon();
}

void DeliveryRound::touchStandardOutput() {
    if (durable_ && stdout_) outputs_.touch(*stdout_);
}

bool DeliveryRound::due() const {
    return outputs_.empty() || inFlight_.size() >= kRoundMessages || outputs_.files() >= kRoundFiles ||
           time(nullptr) - started_ >= kRoundSeconds;
}

bool DeliveryRound::finalSteps() const {
    for (const InFlight& m : inFlight_)
        if (m.remove || m.move) return true;
    return false;
}

bool DeliveryRound::settle(const std::function<bool(const InFlight&)>& finish) {
    std::vector<SyncRound::Outcome> outcomes = outputs_.settle();
    std::vector<InFlight> round;
    round.swap(inFlight_);
    bool ok = true;
    std::vector<const InFlight*> done;
    for (size_t i = 0; i < round.size(); ++i) {
        if (i < outcomes.size() && !outcomes[i].durable) {
            fprintf(stderr, "Message #%d did not reach the disk (%s); it is kept\n", round[i].n,
                    outcomes[i].reason.c_str());
            ok = false;
        } else if (round[i].whole) {
            done.push_back(&round[i]);
        }
    }
    if (seen_) {
        bool added = false;
        for (const InFlight* m : done) {
            if (m->seenId.empty()) continue;
            seen_->add(m->seenId);
            added = true;
        }
        if (added && !seen_->save()) ok = false;
    }
    for (const InFlight* m : done) {
        if ((m->remove || m->move) && !finish(*m)) return false;
    }
    return ok;
}

}  // namespace qarvel
