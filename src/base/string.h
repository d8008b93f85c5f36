// String: the shared, reference-counted byte string every part of qarvel passes around.
//
// A String is one pointer to a representation holding a reference count, a flag word, the
// length, the room for bytes, and the bytes followed by a NUL. Copies share the
// representation (a count update); every modifying operation builds a new representation and
// releases the old one, so a representation is never changed while it is shared. The one
// exception is appending to a string nobody shares: it fills the room left by the last append
// and, when that is used up, moves to a block half as large again, so a string built by
// appending costs time in proportion to its length. Comparisons and searches stop at the
// first NUL, as the text is a C string in practice; length() counts bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace qarvel {

class String {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    String();
    String(char c);                         // NOLINT: one character, length 1
    String(const char* text);               // NOLINT: null gives the empty string
    String(const char* text, size_t count); // the first count bytes
    String(std::string_view text);          // NOLINT
    String(const std::string& text);        // NOLINT
    String(const String& other);            // shares
    // Substring from start for count bytes; start is clamped to the length and count to
    // what remains after start, so out-of-range arguments give a shorter or empty result.
    String(const String& other, size_t start, size_t count = npos);
    ~String();

    String& operator=(const String& other);
    String& operator=(const char* text);
    String& operator=(char c);

    String& operator+=(const String& other);
    String& operator+=(const char* text);
    String& operator+=(char c);
    String& append(const char* data, size_t count);

    size_t length() const { return rep_->length; }
    bool empty() const { return rep_->length == 0; }
    const char* c_str() const { return rep_->data(); }
    // Pointer into the text at an index; the index is not checked.
    const char* at(size_t index) const { return rep_->data() + index; }
    // The character at an index, or NUL at or past the end.
    char operator[](size_t index) const { return index < rep_->length ? rep_->data()[index] : '\0'; }
    std::string_view view() const { return {rep_->data(), rep_->length}; }
    std::string str() const { return std::string(rep_->data(), rep_->length); }

    bool operator==(const String& other) const;
    bool operator==(const char* text) const;  // a null text is unequal
    bool operator<(const String& other) const; // byte-wise, unsigned, a prefix sorts first
    // Letters A-Z and a-z fold together; a null text gives false.
    bool equalsIgnoreCase(const char* text) const;
    // Case-insensitive equality of the first n bytes with text; a null text gives false.
    bool startsWithIgnoreCase(const char* text, size_t n) const;
    bool startsWith(std::string_view prefix) const { return view().substr(0, prefix.size()) == prefix; }
    // Position of the first occurrence, or npos.
    size_t find(char c, size_t from = 0) const { return view().find(c, from); }
    size_t find(std::string_view what, size_t from = 0) const { return view().find(what, from); }

    // Lower-case all bytes in place (copies first when shared).
    void toLower();
    String replaced(char from, char to) const;
    // Every non-overlapping occurrence of from replaced by to; a null or empty from, or a null
    // to, gives a copy.
    String replaced(const char* from, const char* to) const;

    // Everything before the last "/" (empty when there is none), and everything after it
    // (the whole text when there is none).
    String directoryPart() const;
    String filePart() const;

    // Number of handles sharing this representation (tests and diagnostics).
    uint32_t shareCount() const { return rep_->refs; }
    uint32_t flags() const { return rep_->flags; }

private:
    struct Rep {
        uint32_t refs;
        uint32_t flags;
        uint32_t length;
        uint32_t capacity;  // bytes the block holds before the NUL
        char* data() { return reinterpret_cast<char*>(this + 1); }
    };
    static Rep* make(const char* data, size_t length, uint32_t flags = 0);
    static Rep* makeUninitialised(size_t length, uint32_t flags, size_t capacity = 0);
    void release();
    void adopt(Rep* rep);

    Rep* rep_;
};

bool operator==(const char* text, const String& s);
String operator+(const String& a, const String& b);
String operator+(const String& a, const char* b);
String operator+(const String& a, char b);
String operator+(const char* a, const String& b);

// Writes exactly length() bytes (nothing when empty).
std::ostream& operator<<(std::ostream& out, const String& s);

// Leading decimal digits as a number; anything else gives 0 (the rule for numbers given as text).
long toNumber(const char* text);
inline long toNumber(const String& s) { return toNumber(s.c_str()); }

} // namespace qarvel
