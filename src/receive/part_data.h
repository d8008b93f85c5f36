// PartData: the decoded bytes of one extracted part: written straight into a file of the
// extraction folder when the run extracts to one, else in memory while small and in a
// temporary file past the limits; MessagePart, one entry of a message's part queue.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/staged_file.h"
#include "base/string.h"
#include "base/temp_file.h"

namespace qarvel {

// A part larger than this moves from memory to a temporary file while it is decoded.
constexpr size_t kPartMemoryLimit = 512u << 10;
// All parts held in memory together stay under this; past it, a growing part moves to a file
// too, so a message of many parts of just under the limit cannot fill the memory either. Both
// are small on purpose: a run's peak memory must not depend on the size of the message, and a
// part copied once from a temporary file costs less than holding it.
constexpr size_t kPartsMemoryBudget = 2u << 20;

// The decoded bytes of one part: in a staged file of the folder they are extracted to, in
// memory, or in a temporary file that is removed when the part is destroyed.
class PartData {
public:
    PartData() = default;
    ~PartData();
    PartData(const PartData&) = delete;
    PartData& operator=(const PartData&) = delete;

    // Writes the part into a new file of the folder from its first byte (under a temporary
    // name until the attachment writer names it), every CR LF turned into LF when text is
    // set. When that file cannot be made the part is held as without a folder, and the
    // writer meets the same failure again when it writes the part out.
    void stageIn(std::shared_ptr<const FolderHandle> folder, bool text);
    // Sets where a part that outgrows memory is spilled ("" means "/tmp").
    void setSpillFolder(const String& folder) { spillFolder_ = folder; }
    // Bytes held in memory before the part moves to a file (0: straight to a file).
    void setMemoryLimit(size_t limit) { memoryLimit_ = limit; }
    // Appends decoded bytes. Returns false when the file cannot be written (the part is then
    // marked failed and further bytes are dropped).
    bool append(const char* data, size_t length);
    // Ends the writing phase (closes the file; a spilled part opens it again to be read).
    bool finish();
    // Drops everything (and the file).
    void clear();

    // The decoded size (before any CR LF became LF).
    uint64_t size() const { return size_; }
    bool failed() const { return failed_; }
    bool inMemory() const { return !spill_.valid() && !staged_.valid(); }
    // The staged file, when the bytes went straight to the extraction folder (else null).
    StagedFile* staged() { return staged_.valid() ? &staged_ : nullptr; }
    // The decoded bytes all parts of the process hold in memory now.
    static size_t bytesInMemory();
    // The bytes, when the part is held in memory (empty otherwise).
    const std::string& memory() const { return memory_; }
    // Copies the bytes of a part in memory or spilled into the file; in text mode every CR LF
    // becomes LF. Returns false when a read or write fails (a short write, a full disk).
    bool copyTo(StagedFile& out, bool textMode) const;
    // Up to max bytes from the start of the part (for display and tests).
    std::string head(size_t max) const;

private:
    bool spill();
    int openForReading() const;

    std::string memory_;
    TempFile spill_;            // the temporary file, once spilled (invalid: in memory)
    StagedFile staged_;         // the file in the extraction folder (invalid: none)
    bool stagedText_ = false;
    bool pendingCr_ = false;    // text mode: a CR that ended the last piece
    String spillFolder_;
    size_t memoryLimit_ = kPartMemoryLimit;
    uint64_t size_ = 0;
    bool failed_ = false;
};

// One entry of the part queue.
struct MessagePart {
    PartData data;
    String fileName;     // empty when the part has none
    String contentType;  // the Content-Type value with its parameters, or empty
    String contentId;    // empty when the part has none
    bool generatedName = false;  // the name was made up by the parser (see generatedPartName)
    uint64_t size() const { return data.size(); }
};

// Writes bytes to the file, turning CR LF into LF in text mode. pendingCr carries a CR that
// ended the previous piece; the caller writes it when the last piece has gone.
bool writeConverted(StagedFile& out, const char* data, size_t length, bool textMode, bool& pendingCr);

}  // namespace qarvel
