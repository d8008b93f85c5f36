// ListServer: answers the messages of a mailing list's mailbox. A message is a request judged
// by its subject (subscribe, unsubscribe, a fetch of a file or of the file index), a delivery
// report about a subscriber, or a contribution that goes to every subscriber. Replies and
// contributions leave through the current sender; one session serves the whole run.
//
// Copies go out as list mail: the envelope sender is the list (or its owner), so delivery
// reports come back to the list's mailbox, and they carry List-Id, List-Post,
// List-Unsubscribe and the loop header X-Loop. What carries the list's own loop header, or
// comes from the list's own address, is never answered or passed on again.
//
// Subscriber changes are on disk (SubscriberFile) before the message that asked for them can
// be deleted. A contribution goes out a few subscribers per transaction and each accepted
// transaction is recorded in the progress file, so a run that is cut off reports who was not
// reached and the next run sends only to them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/string.h"
#include "receive/receive_options.h"
#include "receive/subscriber_file.h"

namespace qarvel {

class ContributionFiles;
class MailboxReader;
class SenderSession;
struct Message;

// What the driver does with the message afterwards.
constexpr int kListHandled = 1;  // done: it may be deleted
constexpr int kListKept = 0;     // not done: keep it, go on, and end the run with 1
constexpr int kListStop = -1;    // keep it and end the run with 1

class ListServer {
public:
    // sender may be null: then nothing can be answered or distributed.
    ListServer(const ReceiveOptions& options, SenderSession* sender);
    ~ListServer();
    ListServer(const ListServer&) = delete;
    ListServer& operator=(const ListServer&) = delete;

    // Handles the message the reader retrieved last.
    int handle(MailboxReader& reader);

    const String& listAddress() const { return listAddress_; }

private:
    // What became of a request's answer; outcome turns it into what the driver does with the
    // request, the same way for every kind.
    enum class Answer {
        kSent,         // answered (or needs no answer)
        kRefused,      // refused for good (5xx to the recipient or after the data): given up
        kNotSent,      // not sent this time (4xx, no connection): kept for the next run
        kNotRecorded,  // the subscriber file could not be written: kept, and the run stops
    };
    int outcome(Answer answer, const String& sender) const;
    Answer subscribe(const String& sender);
    Answer unsubscribe(const String& sender);
    Answer bounce(MailboxReader& reader, const String& sender);
    Answer fetch(const String& sender, const String& subject);
    Answer index(const String& sender, const String& subject);
    int distribute(MailboxReader& reader, const String& from, const String& subject);
    // The text of a contribution with its parts; its attachments are written for the copies.
    // False (after saying why) when one could not be written: the contribution is kept.
    bool gatherContribution(MailboxReader& reader, const String& subject, std::string& text,
                            ContributionFiles& files);
    // The list's header lines of a copy, and the contribution's own Message-ID.
    void setCopyHeader(const Message& contribution);
    // The message came from the list itself: its own loop header or its own address.
    bool looped(const Message& message, const String& from) const;
    // A returned message (a part's header lines, or the text of a report) carries the list's
    // own loop header: the report is about a copy the list sent.
    bool returnedFromList(const Message& message, std::string_view report) const;

    // Sends one reply from the list address, the send routine printing any failure.
    Answer reply(const String& to, const String& subject, const std::string& text,
                 const String& attachment = String());
    // The header lines every reply or copy carries after the user's own (-hdr:).
    void setListHeader(const std::string& lines);
    // Opens the session unless it is open; prints the connect failure.
    bool connect();
    void log(const char* marker, const std::string& detail) const;

    ReceiveOptions o_;
    SenderSession* sender_;
    SubscriberFile subscribers_;
    String listAddress_;
};

} // namespace qarvel
