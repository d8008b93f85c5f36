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
    file_ = fopen(path.c_str(), "a");
    if (!file_)
        fprintf(stderr, "Could not open the harvest file '%s': %s\n", path.c_str(), strerror(errno));
    return file_ != nullptr;
}

void HarvestFile::add(const String& address) {
    if (!file_ || address.empty() || address == "[unknown]") return;
    // One address per line, whatever the received header held.
    fprintf(file_, "%s\n", blankLineBreaks(address.view()).c_str());
    fflush(file_);
}

// --- extraction ---

int extractParts(MailboxReader& reader, const ReceiveOptions& options) {
    int result = kActionOk;
    if (uint64_t dropped = reader.message().partsDropped) {
        fprintf(stderr, "%llu parts after the first %d could not be kept for extraction\n",
                static_cast<unsigned long long>(dropped), reader.partCount());
        result = kActionFailed;
    }
    while (const MessagePart* part = reader.nextPart()) {
        String media = reader.mediaType();
        bool text = options.textMode || media.startsWithIgnoreCase("text", 4) ||
                    media.equalsIgnoreCase("message/rfc822");
        String name = part->fileName;
        if (writeAttachment(options.extractFolder, name, *part, text, options.unique) != kWriteOk)
            result = kActionFailed;
    }
    return result;
}

} // namespace qarvel
