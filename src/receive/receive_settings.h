// ReceiveSettings: reading mail (the settings group `receive`): the login, the messages chosen,
// what is done with each, the IMAP folder steps and the list run. The receive driver takes the
// group whole.
#pragma once

#include "base/string.h"

namespace qarvel {

// The mailbox reader of a run, as the options and keys choose it.
enum class ReaderKind { kPop3, kImap, kFile };

// The highest message number when none is set.
constexpr int kNoMessageLimit = 2147483647;

struct ReceiveSettings {
    // The password may come from a command or a file instead (-passcmd:, -passfile:); with a
    // bearer mechanism (-auth:xoauth2, -auth:oauthbearer) it is an OAuth2 token. requireTls:
    // no password or token over a connection without TLS (-requiretls).
    String user, password, passwordCommand, passwordFile, authMechanism;
    bool requireTls = false, apop = false, imap = false, preauthenticated = false;
    // The IMAP folder (-mbox:); empty is INBOX.
    String mailbox;
    // The range of messages: from messageNumber while n <= lastMessage.
    int messageNumber = 1, lastMessage = kNoMessageLimit;
    // 1 answers read-receipt requests (-mdn), 2 sends one for every message (-receipt).
    int readReceipt = 0;
    int idleSeconds = 0;  // -idle: seconds to wait with IDLE for new mail
    // Filters: -pat:/-nopat: on the subject, -spat:/-nospat: on the sender.
    String subjectPattern, senderPattern, harvestFile, filter, execCommand, separator;
    bool subjectPatternNegated = false, senderPatternNegated = false;
    // IMAP: the list pattern (-list:, -lsub:), one part (-part: section, offset, length), the
    // folder management and access control (setAcl is "identifier:rights").
    String folderPattern, partName, moveTo, copyTo, createMailbox, deleteMailbox;
    String setAcl, deleteAcl, listRights, search, sort, extractFolder;
    // Where each message goes whole, as received (-maildir:, -mboxfile:), and the record of
    // the messages already delivered (-seen:).
    String maildir, mboxFile, seenFile;
    long partStart = 0, partLength = 0;
    // imapCommand: a management run, no message is processed.
    bool subscribedOnly = false, getAcl = false, myRights = false, imapCommand = false;
    bool extract = false, showAttachments = true, uniqueNames = false;
    // -rm, -unrm, -purge (expunge the deleted messages at the end).
    bool remove = false, keepMessages = false, purge = false;
    bool brief = false, fullHeaders = false, decodeHeaders = true, showSize = false;
    // -kbs, -bs (list the parts instead of fetching), -umbox, -xit.
    bool showRate = false, listParts = false, unixMailbox = false, exitWithCount = false;
    // A list run: the folder of the files "fetch NAME" sends, and how the list answers
    // (-priv, -manual: subscriptions and bounces are left to a person).
    String fetchFolder;
    bool listPrivate = false, listManual = false;
};

} // namespace qarvel
