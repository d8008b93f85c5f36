// The IMAP4 reader's session: connecting (with referrals), logging in and out, folders, flags,
// copies and the order of a SORT or SEARCH.
#include "receive/imap_reader.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "net/failure_cause.h"

namespace qarvel {

namespace {

// LOGOUT waits this long for its reply.
constexpr int kLogoutTimeout = 30;

} // namespace

// ---------------------------------------------------------------- connection

ImapReader::ImapReader() : dialogue_(*this, *this), core_(dialogue_.core()) { dotStuffed_ = 0; }

ImapReader::~ImapReader() {
    if (connected()) close();
}

int ImapReader::vsendCommand(const char* format, va_list args) {
    alerted_ = false;
    alert_ = String();
    return MailboxReader::vsendCommand(format, args);
}

void ImapReader::resetMessageArrays() {
    table_.clear();
    std::vector<uint32_t>().swap(orderedUids_);
}

int ImapReader::close() {
    if (connected() && !keepOpen_) logout(false);
    resetMessageArrays();
    literals_.clear();
    parts_.clear();
    ordered_ = false;
    idling_ = false;
    return MailboxReader::close();
}

int ImapReader::open(const String& host, const String& port, const char* certificate, int level) {
    hasCertificate_ = certificate != nullptr;
    certificate_ = certificate ? certificate : "";
    level_ = level;
    return dialogue_.connect(host, port);
}

int ImapReader::openAndGreet(const String& host, const String& port) {
    if (connected()) close();
    owed_.clear();
    int result = MailboxReader::open(host, port, hasCertificate_ ? certificate_.c_str() : nullptr, level_);
    if (result < 1) return result;
    reply_.assign(kImapResponseSize, '\0');
    count_ = 0;
    recent_ = unseen_ = 0;
    currentSize_ = 0;
    idling_ = false;
    ordered_ = false;
    resetMessageArrays();
    alerted_ = false;
    alert_ = bye_ = selected_ = String();
    loggedOut_ = 1;
    return readResponse();
}

// ---------------------------------------------------------------- login

int ImapReader::login(const String& user, const String& password) {
    alerted_ = false;
    alert_ = String();
    loggedIn_ = 0;
    count_ = 0;
    recent_ = unseen_ = 0;
    currentSize_ = 0;
    resetMessageArrays();
    int r = dialogue_.login(user, password, apop_ != 0);
    if (r < 1) return r;
    loggedIn_ = 1;
    loggedOut_ = 0;
    return kReaderOk;
}

int ImapReader::logout(bool useUserLogout) {
    loggedIn_ = 0;
    if (!connected()) return kReaderFailed;
    alerted_ = false;
    alert_ = String();
    setTimeout(std::min(timeout() > 0 ? timeout() : kLogoutTimeout, kLogoutTimeout));
    loggingOut_ = true;
    int r = kReaderOk;
    if (purge_ && !loggedOut_ && !selected_.empty()) r = command("%lu CLOSE\r\n", nextTag());
    if (!loggedOut_) {
        if (useUserLogout && core_.capabilities().userLogout) r = command("%lu USERLOGOUT\r\n", nextTag());
        else r = command("%lu LOGOUT\r\n", nextTag());
        loggedOut_ = 1;
    }
    loggingOut_ = false;
    return r;
}

// ---------------------------------------------------------------- folders

int ImapReader::selectFolder(const String& name, int readOnly) {
    if (!connected()) return kReaderFailed;
    resetMessageArrays();
    currentSize_ = 0;
    uidNext_ = unseen_ = recent_ = 0;
    ordered_ = false;
    count_ = 0;
    expectExists_ = true;
    int r = command("%lu %s %s\r\n", nextTag(), readOnly ? "EXAMINE" : "SELECT",
                    ImapCore::quoted(name).c_str());
    expectExists_ = false;
    if (r < 0) return r;
    selected_ = name;
    return kReaderOk;
}

int ImapReader::fetchSizes(int first, int last) {
    if (!connected()) return kReaderFailed;
    if (count_ == 0) return kReaderNotDone;
    if (last == 0) last = count_;
    return command("%lu FETCH %lu:%lu (UID RFC822.SIZE)\r\n", nextTag(),
                   static_cast<unsigned long>(first), static_cast<unsigned long>(last));
}

int ImapReader::listFolders(const String& pattern, int subscribedOnly) {
    if (!connected()) return kReaderFailed;
    folders_.clear();
    kept_.clear();
    return command("%lu %s \"\" %s\r\n", nextTag(), subscribedOnly ? "LSUB" : "LIST",
                   ImapCore::quoted(pattern.empty() ? String("*") : pattern).c_str());
}

int ImapReader::nextFolderName(String& name) {
    if (folders_.takeHead(name)) return kReaderOk;
    name = String();
    for (const String& folder : kept_) folders_.add(folder);
    return kReaderNotDone;
}

int ImapReader::createFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu CREATE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::deleteFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu DELETE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::subscribeFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu SUBSCRIBE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::unsubscribeFolder(const String& name) {
    if (!connected()) return kReaderFailed;
    return command("%lu UNSUBSCRIBE %s\r\n", nextTag(), ImapCore::quoted(name).c_str());
}

int ImapReader::renameFolder(const String& oldName, const String& newName) {
    if (!connected()) return kReaderFailed;
    return command("%lu RENAME %s %s\r\n", nextTag(), ImapCore::quoted(oldName).c_str(),
                   ImapCore::quoted(newName).c_str());
}

int ImapReader::closeMailbox() {
    if (!connected()) return kReaderFailed;
    return command("%lu CLOSE\r\n", nextTag());
}

// ---------------------------------------------------------------- flags, copies, order

int ImapReader::deleteMessage(int n) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    return command("%lu STORE %d +FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::undeleteMessage(int n) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    return command("%lu STORE %d -FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::deleteByUid(unsigned uid) {
    if (!connected()) return kReaderFailed;
    return command("%lu UID STORE %lu +FLAGS (\\Deleted)\r\n", nextTag(), static_cast<unsigned long>(uid));
}

int ImapReader::undeleteByUid(unsigned uid) {
    if (!connected()) return kReaderFailed;
    return command("%lu UID STORE %lu -FLAGS (\\Deleted)\r\n", nextTag(), static_cast<unsigned long>(uid));
}

int ImapReader::copyMessage(int n, const String& folder, int deleteAfter) {
    if (!connected() || n < 1 || n > count_) return kReaderFailed;
    int r = command("%lu COPY %d %s\r\n", nextTag(), n, ImapCore::quoted(folder).c_str());
    if (r < 1 || !deleteAfter) return r;
    return command("%lu STORE %d +FLAGS (\\Deleted)\r\n", nextTag(), n);
}

int ImapReader::copyByUid(unsigned uid, const String& folder, int deleteAfter) {
    if (!connected()) return kReaderFailed;
    int r = command("%lu UID COPY %lu %s\r\n", nextTag(), static_cast<unsigned long>(uid),
                    ImapCore::quoted(folder).c_str());
    if (r < 1 || !deleteAfter) return r;
    return deleteByUid(uid);
}

int ImapReader::sort(const String& criteria, const String& key) {
    if (!connected()) return kReaderFailed;
    if (!core_.capabilities().sort || ordered_) return kReaderNotDone;
    int old = count_;
    count_ = 0;
    int r = command("%lu UID SORT (%s) US-ASCII %s\r\n", nextTag(),
                    criteria.empty() ? "ARRIVAL" : criteria.c_str(), key.empty() ? "ALL" : key.c_str());
    if (r < 1) { if (count_ == 0) count_ = old; return r; }
    ordered_ = true;
    return kReaderOk;
}

int ImapReader::search(const String& criteria) {
    if (!connected()) return kReaderFailed;
    if (ordered_) return kReaderNotDone;
    int old = count_;
    count_ = 0;
    int r = command("%lu UID SEARCH %s\r\n", nextTag(), criteria.empty() ? "ALL" : criteria.c_str());
    if (r < 1) { if (count_ == 0) count_ = old; return r; }
    ordered_ = true;
    return kReaderOk;
}

int ImapReader::messageSize(int n) {
    if (n < 1 || n > count_ || ordered_) return 0;
    return static_cast<int>(table_.size(static_cast<uint32_t>(n)));
}

unsigned ImapReader::uidOf(int n) {
    if (n < 1 || n > count_) return 0;
    return table_.uid(static_cast<uint32_t>(n));
}

int ImapReader::listUniqueIds() {
    if (count_ == 0 || uidOf(1) != 0 || ordered_) return kReaderOk;
    int r = fetchSizes(1, 0);
    return r < 1 ? r : kReaderOk;
}

String ImapReader::uniqueId(int n) {
    unsigned uid = orderedUid(n);
    return uid ? String(std::to_string(uid)) : String();
}

unsigned ImapReader::orderedUid(int n) {
    if (n < 1 || n > count_) return 0;
    if (ordered_) return static_cast<size_t>(n) <= orderedUids_.size() ? orderedUids_[static_cast<size_t>(n - 1)] : 0;
    return uidOf(n);
}

Failure ImapReader::failureOf(int result) const {
    return sessionFailure(*this, result, lastReply(), ReplyCodes::kImap);
}

} // namespace qarvel
