// MessageParser: reads one message from a mailbox reader's input, line by line, into the
// reader's Message record: the header fields and the header map, the multipart structure
// (a stack of boundary keys), the decoded text body and the queue of extracted parts.
//
// Lines come off the reader in pieces of at most kPieceSize bytes, so a line of any length
// is handled without growing memory: header lines are kept up to kHeaderMax bytes (the rest
// is dropped), body pieces go straight to the part's decoder. A base64 body, and one whose
// bytes are dropped, goes to the decoder many lines at a time instead, straight from the
// reader's buffer (decodeBlock). Extracted parts stream into PartData: into a file of the
// extraction folder when the run writes them there, else memory and then a temporary file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/staged_file.h"
#include "base/string.h"
#include "receive/line_source.h"
#include "receive/message.h"
#include "receive/part_decoder.h"

namespace qarvel {

// The reader settings that steer a parse.
struct ParseSettings {
    int headerOnly = 0;     // 1: only the header is fetched; 3: also keep earlier header fields
    int extract = 0;        // collect the parts in the queue
    int html = 0;           // keep the HTML alternative instead of the plain one
    int sizeTrust = 1;      // the expected byte count bounds the read
    int raw = 0;            // ignore the content headers
    int decodeHeaders = 1;  // decode RFC 2047 encoded words in header values
    // A line of a single "." ends the message, as on a connection. In a message file it is
    // text (the file may never have been dot-stuffed), unless it is the file's last line.
    int endMarker = 1;
    int traceLevel = 0;
    int dotStuffed = 1;     // "." alone ends the input and a leading dot is dropped (POP3)
    String workingFolder;   // where large parts are spilled
    // The folder the run extracts parts to, when it writes them there: each part then goes
    // straight into a file of that folder, and is written in text mode when
    // writtenAsText(its content type, allPartsText) says so. None: parts are kept in memory
    // or spilled to workingFolder.
    std::shared_ptr<const FolderHandle> partFolder;
    bool allPartsText = false;
    // Decodes the encoded words of a header value; none means values are kept as they are.
    // The charset of the last word goes to *charset (when given).
    String (*decodeWords)(const String& value, String* charset) = nullptr;
    // When it holds a sink, the text body goes there as it is read instead of into the record.
    const PartDecoder::Sink* bodySink = nullptr;
};

// What a reader keeps from one parse to the next, so that a run of messages reuses the same
// memory: the buffer lines are read into and the decoders with their output batches.
struct ParseBuffers {
    std::vector<char> line;
    PartDecoder decoder, uuDecoder;
};

// Limits of the parser.
constexpr size_t kPieceSize = 64 * 1024;       // one read of the line reader
constexpr size_t kHeaderMax = 16383;           // a header line, folds included
constexpr size_t kBoundaryMax = 255;           // a boundary parameter
constexpr size_t kNestingMax = 1000;           // open multipart containers
constexpr size_t kHeaderMapMax = 20000;        // entries of the header map per message
constexpr size_t kHeaderMapBytesMax = 4u << 20; // and the bytes they hold
constexpr size_t kAddressListMax = 64 * 1024;  // the joined To: and Cc: texts
constexpr size_t kPartsMax = 10000;            // extracted parts per message
constexpr uint64_t kBodyCapMax = 128u << 20;   // the decoded text body
constexpr uint64_t kBodyCapMin = 1u << 20;
// A header-only read keeps one body line (what a server's TOP n 1 sends), and no more of it
// than this: a message file is read whole and must not fill memory.
constexpr uint64_t kBriefBodyMax = 64u << 10;
constexpr uint64_t kPartsInMemoryMax = 2u << 20;  // all queued parts held in memory

class MessageParser {
public:
    // buffers: kept by the caller for the next message; none: buffers of the parser's own.
    MessageParser(LineSource& input, const ParseSettings& settings, Message& message,
                  ParseBuffers* buffers = nullptr);
    // 1 when the message was read to its end, 0 when a read failed first (what was parsed so
    // far stays in the record).
    int run(uint64_t expectedBytes);

private:
    // Where the decoded bytes of the current part go.
    enum class Target { kNone, kBody, kPart };

    struct Container {
        String key;          // "--" boundary "--"
        bool alternative;    // multipart/alternative: one of the alternatives is dropped
    };

    // Per-part header state, reset at each delimiter.
    struct PartHeader {
        String mediaType;    // lower-case media type, empty when none was given
        String typeValue;    // the whole Content-Type value (queued with the part)
        String fileName;     // already made safe
        String contentId;
        String charset;      // the charset parameter, empty when none
        PartEncoding encoding = PartEncoding::kNone;
        bool container = false;
        bool attachment = false;
    };

    int readPiece();
    bool decodeBlock();
    bool atEnd() const;
    bool readHeaderLine(std::string& line);
    // One piece of input as the dot rule of the data phase leaves it.
    struct Piece {
        const char* data = nullptr;
        size_t length = 0;
        bool lineStart = false, lineEnd = false;
    };
    int readDataPiece(Piece& piece, bool endAllowed);
    void headerLine(std::string& line);
    void contentHeader(const char* name, const String& value);
    void contentTypeHeader(const String& value);
    void endHeader();
    void bodyPiece(const char* data, size_t length, bool lineStart, bool lineEnd);
    int delimiterKind(const char* data, size_t length, size_t& level) const;
    void beginPart();
    void endPart();
    void startTarget();
    void beginUuBlock(const char* line, size_t length);
    void endUuBlock();
    bool toBody(const char* data, size_t length);
    bool toPart(const char* data, size_t length);
    void queuePart(std::unique_ptr<MessagePart> part);
    std::unique_ptr<MessagePart> newPart(const String& contentType);
    String decodeHeader(const String& value, String* charset = nullptr) const;
    String fileNameOf(const String& text, bool extended) const;
    void trace(const char* text) const;
    void finish();

    LineSource& input_;
    const ParseSettings& settings_;
    Message& message_;
    ParseBuffers ownBuffers_;
    std::vector<char>& piece_;
    size_t pieceLength_ = 0;
    bool lineStart_ = true;     // the next piece begins a line
    bool ended_ = false;        // the end marker or the expected count was reached
    bool inHeader_ = true;
    bool topLevel_ = true;      // still in the header of the message itself
    bool skipMark_ = false;     // a message/ part: its header continues the header
    bool sawHeaderLine_ = false;  // a line of the field table was seen
    uint64_t expected_ = 0;
    uint64_t bodyCap_ = 0;
    uint64_t inMemory_ = 0;     // bytes of queued parts still held in memory
    size_t headerMapBytes_ = 0;

    String currentKey_;
    bool currentAlternative_ = false;
    std::vector<Container> stack_;
    bool warnedNesting_ = false;

    PartHeader part_;
    Target target_ = Target::kNone;
    PartDecoder& decoder_;
    std::unique_ptr<MessagePart> pending_;  // the part being decoded (Target::kPart)
    std::string pendingEol_;                // a held-back line end (see bodyPiece)

    // A uuencoded block inside a text body.
    bool inUu_ = false;
    PartDecoder& uuDecoder_;
    std::unique_ptr<MessagePart> uuPart_;
};

} // namespace qarvel
