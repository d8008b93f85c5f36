// The -exec: command, the harvest file and the extraction of a message's parts.
#include "receive/message_actions.h"
#include "base/temp_file.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/line_breaks.h"
#include "receive/attachment_file.h"
#include "receive/mailbox_reader.h"

namespace qarvel {

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

int runExecCommand(const String& command, const String& workingFolder, const char* body,
                   size_t length, int messageNumber, int* status) {
    TempFile temp(workingFolder, "qarvel-exec-");
    FILE* out = temp.valid() ? temp.stream("wb") : nullptr;
    if (!out) {
        fprintf(stderr, "Could not create a temporary file in '%s' for message #%d: %s\n",
                workingFolder.c_str(), messageNumber, strerror(errno));
        return kActionFailed;
    }
    errno = 0;
    bool written = length == 0 || fwrite(body, 1, length, out) == length;
    if (!temp.close() || !written) {
        fprintf(stderr, "Could not write the temporary file '%s' for message #%d: %s\n",
                temp.path().c_str(), messageNumber, strerror(errno ? errno : EIO));
        return kActionFailed;
    }
    std::string line = command.str() + " < " + shellQuoted(temp.path());
    fflush(stdout);
    int result = system(line.c_str());
    if (status) *status = result;
    if (result == -1) {
        fprintf(stderr, "Could not run the command for message #%d: %s\n", messageNumber,
                strerror(errno));
        return kActionFailed;
    }
    if (WIFEXITED(result) && WEXITSTATUS(result) == 0) return kActionOk;
    if (WIFEXITED(result))
        fprintf(stderr, "Command '%s' for message #%d exited with code %d\n", command.c_str(),
                messageNumber, WEXITSTATUS(result));
    else
        fprintf(stderr, "Command '%s' for message #%d ended by signal %d\n", command.c_str(),
                messageNumber, WIFSIGNALED(result) ? WTERMSIG(result) : 0);
    return kActionCommandFailed;
}

// --- harvest file ---

HarvestFile::~HarvestFile() {
    if (file_) fclose(file_);
}

bool HarvestFile::open(const String& path) {
    path_ = path;
    file_ = fopen(path.c_str(), "a");
    if (!file_)
        fprintf(stderr, "Could not open the harvest file '%s': %s\n", path.c_str(), strerror(errno));
    return file_ != nullptr;
}

bool HarvestFile::add(const String& address) {
    if (!file_ || address.empty() || address == "[unknown]") return false;
    // One address per line, whatever the received header held.
    errno = 0;
    if ((fprintf(file_, "%s\n", blankLineBreaks(address.view()).c_str()) < 0 || fflush(file_) != 0) && !error_)
        error_ = errno ? errno : EIO;
    return true;
}

int HarvestFile::sync() {
    if (!error_ && (fflush(file_) != 0 || fsync(fileno(file_)) != 0)) error_ = errno;
    return error_;
}

// --- extraction ---

int extractParts(MailboxReader& reader, const ReceiveOptions& options, SyncRound* round) {
    int result = kActionOk;
    if (uint64_t dropped = reader.message().partsDropped) {
        fprintf(stderr, "%llu parts after the first %d could not be kept for extraction\n",
                static_cast<unsigned long long>(dropped), reader.partCount());
        result = kActionFailed;
    }
    while (MessagePart* part = reader.nextPart()) {
        String name = part->fileName;
        if (writeAttachment(options.receive.extractFolder, name, *part,
                            writtenAsText(part->contentType, options.content.textAttachments),
                            options.receive.uniqueNames, round) != kWriteOk)
            result = kActionFailed;
    }
    return result;
}

namespace {

// A per-message action: whether the run asked for it, and whether it needs the whole message.
struct PerMessageAction {
    bool (*wanted)(const ReceiveOptions& o);
    bool wholeMessage;
};

// A new action is one row; the rows that need no more than the headers say so too (they work as well on a message that streamed).
const PerMessageAction kPerMessageActions[] = {
    {[](const ReceiveOptions& o) { return o.receive.unixMailbox; }, true},       // -umbox framing
    {[](const ReceiveOptions& o) { return o.receive.extract; }, true},           // -extract
    {[](const ReceiveOptions& o) { return listRun(o); }, true},                  // list requests
    {[](const ReceiveOptions& o) { return !o.receive.execCommand.empty(); }, true},  // -exec:
    {[](const ReceiveOptions& o) { return !o.receive.filter.empty(); }, true},   // -filter:
    {[](const ReceiveOptions& o) { return !o.servers.relayHost.empty(); }, true},  // forwarding
    {[](const ReceiveOptions& o) { return !o.receive.partName.empty(); }, true},  // one IMAP part
    {[](const ReceiveOptions& o) { return o.pages != nullptr; }, true},          // a web page
    {[](const ReceiveOptions& o) { return !o.receive.harvestFile.empty(); }, false},  // the sender
    {[](const ReceiveOptions& o) { return o.receive.readReceipt != 0; }, false},  // headers only
    {[](const ReceiveOptions& o) { return !o.receive.copyTo.empty() || !o.receive.moveTo.empty(); }, false},
    {[](const ReceiveOptions& o) { return o.receive.remove; }, false},
};

} // namespace

bool needsWholeMessage(const ReceiveOptions& options) {
    for (const PerMessageAction& action : kPerMessageActions)
        if (action.wholeMessage && action.wanted(options)) return true;
    return false;
}

} // namespace qarvel
