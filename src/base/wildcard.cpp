// The wildcard matcher for file names and message filters.
#include "base/wildcard.h"

#include <cctype>

namespace qarvel {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

struct Matcher {
    bool ignoreCase;
    bool simple;
    char* capture;
    size_t captured = 0;
    long budget = 1000000;  // bounds the backtracking of many stars on hostile patterns

    void take(char c) {
        if (capture) capture[captured++] = c;
    }
    bool same(char a, char b) const { return ignoreCase ? upper(a) == upper(b) : a == b; }
    bool special(char c) const {
        if (c == '*' || c == '\\') return true;
        return !simple && (c == '?' || c == '#' || c == '@' || c == '!' || c == '$');
    }

    bool match(const char* t, const char* p) {
        if (--budget < 0) return false;
        while (*t) {
            char pc = *p;
            if (pc == '\0') return false;
            if (pc == '\\') {
                if (p[1] == '\0' || !same(*t, p[1])) return false;
                ++t;
                p += 2;
                continue;
            }
            if (pc == '*') return star(t, p + 1);
            if (!simple) {
                if (pc == '?') { take(*t++); ++p; continue; }
                if (pc == '#') {
                    if (!isDigit(*t)) return false;
                    take(*t++); ++p; continue;
                }
                if (pc == '!') {
                    if (!isLetter(*t)) return false;
                    take(*t++); ++p; continue;
                }
                if (pc == '@') {
                    while (isDigit(*t)) take(*t++);
                    ++p;
                    continue;
                }
                if (pc == '$') {
                    while (isLetter(*t)) take(*t++);
                    ++p;
                    continue;
                }
            }
            if (!same(*t, pc)) return false;
            ++t;
            ++p;
        }
        // Text exhausted: the pattern must be too, or hold one run wildcard.
        if (*p == '\0') return true;
        if (p[1] == '\0' && (*p == '*' || (!simple && (*p == '@' || *p == '$')))) return true;
        return false;
    }

    // '*' at text position t; p is the pattern after the star.
    bool star(const char* t, const char* p) {
        if (*p == '\0') {
            while (*t) take(*t++);
            return true;
        }
        char next = *p;
        bool escaped = next == '\\';
        char wanted = escaped ? p[1] : next;
        for (;; ++t) {
            if (*t == '\0') return match(t, p);
            bool qualifies;
            if (!escaped && !simple && next == '#') qualifies = isDigit(*t);
            else if (!escaped && !simple && next == '!') qualifies = isLetter(*t);
            else if (!escaped && special(next)) qualifies = true;  // another wildcard follows
            else qualifies = same(*t, wanted);
            if (!qualifies) {
                take(*t);
                continue;
            }
            size_t mark = captured;
            if (match(t, p)) return true;
            captured = mark;
            take(*t);
        }
    }
};

}  // namespace

bool wildcardMatch(const char* text, const char* pattern, bool ignoreCase, bool simple,
                   char* capture) {
    if (!text || !pattern) return false;
    Matcher m{ignoreCase, simple, capture};
    bool ok = m.match(text, pattern);
    if (capture) capture[m.captured] = '\0';
    return ok;
}

}  // namespace qarvel
