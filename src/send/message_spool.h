// MessageSpool: the one message the system's sendmail reads from standard input, kept in a
// temporary file as it will be sent, so that it can be sent from there and, when it cannot be
// handed over, kept in dead.letter. Only the header is held in memory (up to kHeaderLimit);
// the body goes to the file as it comes in.
//
// The header is changed as sendmail changes it: Bcc lines go (their addresses are recipients
// of -t), a From whose address has no domain gets the mail domain, and a message without a
// From, Date or Message-ID line gains one. The file is in the form the ready-made message path
// (-t) sends: lines end with LF, and every line that begins with "." has a second one, so that
// a line of a single "." is text.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "base/string.h"
#include "base/temp_file.h"

namespace qarvel {

struct SpoolRules {
    // Without -i a line of a single "." ends the input.
    bool dotEnds = true;
    // The From line a message without one gains ("Ann <ann@example.org>"), and the domain of
    // a From address without one and of the Message-ID.
    String from, domain;
    std::time_t now = 0;
};

class MessageSpool {
public:
    // Header bytes kept and read by their fields; the lines after them go on unchanged.
    static constexpr size_t kHeaderLimit = 1 << 20;

    // Reads one message from in into a new file in folder ("" means /tmp). False, with the
    // reason in error(), when the file could not be made or written.
    bool read(std::FILE* in, const SpoolRules& rules, const String& folder);
    // The same for a message already in memory (the tests and the fuzz target).
    bool readText(std::string_view text, const SpoolRules& rules, const String& folder);

    const std::string& path() const { return file_.path(); }
    const std::string& error() const { return error_; }
    // The addresses of the To, Cc and Bcc lines, in that order of appearance.
    const std::vector<String>& headerRecipients() const { return recipients_; }
    // A byte above 127 was read: the relay is told the body is 8-bit.
    bool eightBit() const { return eightBit_; }

private:
    bool readFrom(class BatchText& input, const SpoolRules& rules, const String& folder);
    bool headerField(const std::string& field, const SpoolRules& rules);
    bool put(std::string_view text);
    bool putLine(std::string_view line);

    TempFile file_;
    std::FILE* out_ = nullptr;
    std::vector<String> recipients_;
    bool hasFrom_ = false, hasDate_ = false, hasMessageId_ = false;
    bool eightBit_ = false;
    std::string error_;
};

// The message-ID a message without one gains: "<TIME.PID.RANDOM@domain>".
String newMessageId(const String& domain, std::time_t now);

} // namespace qarvel
