// String: representation management, comparisons and the copy-building changes.
#include "base/string.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>

namespace qarvel {

namespace {

int upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

} // namespace

// The header and the bytes share one allocation; the bytes follow the header.
String::Rep* String::makeUninitialised(size_t length, uint32_t flags, size_t capacity) {
    if (capacity < length) capacity = length;
    void* block = ::operator new(sizeof(Rep) + capacity + 1);
    Rep* rep = static_cast<Rep*>(block);
    rep->refs = 1;
    rep->flags = flags;
    rep->length = static_cast<uint32_t>(length);
    rep->capacity = static_cast<uint32_t>(capacity);
    rep->data()[length] = '\0';
    return rep;
}

String::Rep* String::make(const char* data, size_t length, uint32_t flags) {
    Rep* rep = makeUninitialised(length, flags);
    if (length) std::memcpy(rep->data(), data, length);
    return rep;
}

void String::release() {
    if (rep_ && --rep_->refs == 0) ::operator delete(rep_);
    rep_ = nullptr;
}

void String::adopt(Rep* rep) {
    release();
    rep_ = rep;
}

String::String() : rep_(make("", 0)) {}
String::String(char c) : rep_(make(&c, 1)) {}
String::String(const char* text) : rep_(make(text ? text : "", text ? std::strlen(text) : 0)) {}
String::String(const char* text, size_t count) : rep_(make(text ? text : "", text ? count : 0)) {}
String::String(std::string_view text) : rep_(make(text.data(), text.size())) {}
String::String(const std::string& text) : rep_(make(text.data(), text.size())) {}
String::String(const String& other) : rep_(other.rep_) { ++rep_->refs; }

String::String(const String& other, size_t start, size_t count) {
    size_t len = other.length();
    if (start > len) start = len;
    if (count > len - start) count = len - start;
    rep_ = make(other.c_str() + start, count, other.rep_->flags);
}

String::~String() { release(); }

String& String::operator=(const String& other) {
    if (other.rep_ != rep_) {
        ++other.rep_->refs;
        adopt(other.rep_);
    }
    return *this;
}

String& String::operator=(const char* text) {
    // The text may point into our own representation: build the new one before releasing.
    adopt(make(text ? text : "", text ? std::strlen(text) : 0, rep_->flags));
    return *this;
}

String& String::operator=(char c) {
    adopt(make(&c, 1, rep_->flags));
    return *this;
}

String& String::append(const char* data, size_t count) {
    if (!data || count == 0) return *this;
    const size_t before = length(), total = before + count;
    if (rep_->refs == 1 && total <= rep_->capacity) {
        // Nobody else sees this representation: the bytes go into its room.
        std::memcpy(rep_->data() + before, data, count);
        rep_->length = static_cast<uint32_t>(total);
        rep_->data()[total] = '\0';
        return *this;
    }
    // A shared string gets an exact copy (the first append after a copy is usually the
    // last); one that is appended to on its own is likely to be appended to again.
    size_t capacity = total;
    if (rep_->refs == 1) capacity = std::min<size_t>(std::max<size_t>(total + total / 2, 32), 0xffffffffu);
    Rep* rep = makeUninitialised(total, rep_->flags, capacity);
    std::memcpy(rep->data(), c_str(), before);
    std::memcpy(rep->data() + before, data, count);
    adopt(rep);
    return *this;
}

String& String::operator+=(const String& other) {
    String keep(other); // other may be *this
    return append(keep.c_str(), keep.length());
}
String& String::operator+=(const char* text) { return text ? append(text, std::strlen(text)) : *this; }
String& String::operator+=(char c) { return append(&c, 1); }

bool String::operator==(const String& other) const {
    if (rep_ == other.rep_) return true;
    return std::strcmp(c_str(), other.c_str()) == 0;
}

bool String::operator==(const char* text) const { return text && std::strcmp(c_str(), text) == 0; }

bool String::operator<(const String& other) const {
    // strcmp compares as unsigned char and sorts a prefix first.
    return std::strcmp(c_str(), other.c_str()) < 0;
}

bool String::equalsIgnoreCase(const char* text) const {
    if (!text) return false;
    const unsigned char* a = reinterpret_cast<const unsigned char*>(c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text);
    for (; *a && *b; ++a, ++b)
        if (upper(*a) != upper(*b)) return false;
    return *a == *b;
}

bool String::startsWithIgnoreCase(const char* text, size_t n) const {
    if (!text) return false;
    const unsigned char* a = reinterpret_cast<const unsigned char*>(c_str());
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < n; ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
        if (!a[i]) return true; // both ended together
    }
    return true;
}

void String::toLower() {
    if (rep_->refs > 1) adopt(make(c_str(), length(), rep_->flags));
    for (char* p = rep_->data(); *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + 32);
}

String String::replaced(char from, char to) const {
    String out;
    out.adopt(make(c_str(), length(), rep_->flags));
    for (char* p = out.rep_->data(); p < out.rep_->data() + out.length(); ++p)
        if (*p == from) *p = to;
    return out;
}

String String::replaced(const char* from, const char* to) const {
    if (!from || !to || !*from) return *this;
    size_t fromLen = std::strlen(from), toLen = std::strlen(to);
    std::string out;
    out.reserve(length());
    const char* p = c_str();
    const char* end = p + std::strlen(p);
    while (p < end) {
        if (*p == *from && static_cast<size_t>(end - p) >= fromLen && std::memcmp(p, from, fromLen) == 0) {
            out.append(to, toLen);
            p += fromLen;
        } else {
            out.push_back(*p++);
        }
    }
    String result;
    result.adopt(make(out.data(), out.size(), rep_->flags));
    return result;
}

String String::directoryPart() const {
    const char* slash = std::strrchr(c_str(), '/');
    return slash ? String(c_str(), static_cast<size_t>(slash - c_str())) : String();
}

String String::filePart() const {
    const char* slash = std::strrchr(c_str(), '/');
    return slash ? String(slash + 1) : *this;
}

bool operator==(const char* text, const String& s) { return s == text; }

String operator+(const String& a, const String& b) { return String(a) += b; }
String operator+(const String& a, const char* b) { return String(a) += b; }
String operator+(const String& a, char b) { return String(a) += b; }
String operator+(const char* a, const String& b) { return String(a) += b; }

std::ostream& operator<<(std::ostream& out, const String& s) {
    if (s.length()) out.write(s.c_str(), static_cast<std::streamsize>(s.length()));
    return out;
}

long toNumber(const char* text) {
    if (!text) return 0;
    long value = 0;
    bool negative = false;
    const char* p = text;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > (2147483647L - (*p - '0')) / 10) return negative ? -2147483647L : 2147483647L;
        value = value * 10 + (*p - '0');
    }
    return negative ? -value : value;
}

} // namespace qarvel
