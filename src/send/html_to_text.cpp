// HTML to plain text: one pass over the HTML with a small state (dropped regions, <pre>,
// capitals, the link target) and a table of the tags that change it.
#include "base/text.h"
#include "send/html_to_text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>

namespace qarvel {

namespace {

// An entity is at most this long between '&' and ';'; longer runs are plain text.
constexpr size_t kMaxEntityLength = 32;
// The attribute values a tag keeps (href, alt, src) are cut at this length.
constexpr size_t kMaxAttributeValue = 4096;

struct Tag {
    std::string name;  // lower case, without '/'
    bool closing = false;
    bool selfClosing = false;
    std::string href, alt, src;
};

enum class Drop { kNone, kTitle, kMeta, kScript, kStyle };

class Renderer {
public:
    Renderer(const char* html, size_t length) : in_(html, length) {}

    std::string run() {
        while (pos_ < in_.size()) {
            char c = in_[pos_];
            if (c == '\r') {
                ++pos_;
            } else if (c == '<' && startsTag()) {
                handleMarkup();
            } else if (c == '&') {
                handleEntity();
            } else {
                ++pos_;
                text(c);
            }
        }
        return out_;
    }

private:
    // '<' followed by a letter, '/', '!' or '?' opens markup; any other '<' is text.
    bool startsTag() const {
        if (pos_ + 1 >= in_.size()) return false;
        char n = in_[pos_ + 1];
        return std::isalpha(static_cast<unsigned char>(n)) || n == '/' || n == '!' || n == '?';
    }

    void text(char c) {
        if (drop_ != Drop::kNone) return;
        if (pre_) {
            if (c == '\n') {
                out_ += "\r\n";
            } else {
                out_ += c;
            }
            afterLineEnd_ = false;
            return;
        }
        if (isSpace(c)) {
            if (!afterLineEnd_ && !out_.empty() && out_.back() != ' ') out_ += ' ';
            return;
        }
        afterLineEnd_ = false;
        out_ += caps_ ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
    }

    void literal(std::string_view s) {
        for (char c : s) text(c);
    }

    // Entity text: written as it is (an entity blank is a hard blank, never collapsed).
    void entityText(std::string_view s) {
        if (drop_ != Drop::kNone) return;
        for (char c : s)
            out_ += caps_ ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        afterLineEnd_ = false;
    }

    bool atLineStart() const {
        return out_.empty() || (out_.size() >= 2 && out_.compare(out_.size() - 2, 2, "\r\n") == 0);
    }

    void lineEnd(int count) {
        if (drop_ != Drop::kNone) return;
        while (!out_.empty() && out_.back() == ' ') out_.pop_back();
        for (int k = 0; k < count; ++k) out_ += "\r\n";
        afterLineEnd_ = true;
    }

    void newLine() {
        if (!atLineStart()) lineEnd(1);
        afterLineEnd_ = true;
    }

    // Finds the '>' that ends markup starting at pos_, skipping quoted attribute values. After
    // an unclosed quote the rest of the text is searched without quote handling, and a search
    // that found no '>' at all is remembered, so malformed input stays linear.
    size_t tagEnd() {
        if (pos_ >= noCloseFrom_) return std::string_view::npos;
        if (quotesUsable_) {
            char quote = 0;
            for (size_t i = pos_ + 1; i < in_.size(); ++i) {
                char c = in_[i];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    return i;
                }
            }
            quotesUsable_ = false;
        }
        size_t end = in_.find('>', pos_ + 1);
        if (end == std::string_view::npos) noCloseFrom_ = pos_;
        return end;
    }

    void handleMarkup() {
        if (drop_ == Drop::kScript || drop_ == Drop::kStyle) {
            // Script and style text is not HTML: only its closing tag ends it.
            const char* close = drop_ == Drop::kScript ? "</script" : "</style";
            size_t n = std::strlen(close);
            if (in_.size() - pos_ < n || strncasecmp(in_.data() + pos_, close, n) != 0) {
                ++pos_;
                return;
            }
        }
        if (in_.compare(pos_, 4, "<!--") == 0) {
            size_t end = in_.find("-->", pos_ + 4);
            pos_ = end == std::string_view::npos ? in_.size() : end + 3;
            return;
        }
        size_t end = tagEnd();
        if (end == std::string_view::npos) {
            // No closing '>' anywhere: the '<' is text, not the start of a tag.
            ++pos_;
            text('<');
            return;
        }
        Tag tag = parseTag(in_.substr(pos_ + 1, end - pos_ - 1));
        pos_ = end + 1;
        apply(tag);
    }

    static std::string lower(std::string_view s) {
        std::string r(s);
        for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return r;
    }

    static Tag parseTag(std::string_view body) {
        Tag tag;
        size_t i = 0;
        if (i < body.size() && body[i] == '/') {
            tag.closing = true;
            ++i;
        }
        size_t start = i;
        while (i < body.size() && (std::isalnum(static_cast<unsigned char>(body[i])) || body[i] == '!'))
            ++i;
        tag.name = lower(body.substr(start, i - start));
        if (!body.empty() && body.back() == '/') tag.selfClosing = true;
        // Attributes: name, optional '=' and a quoted or bare value.
        while (i < body.size()) {
            while (i < body.size() && (isSpace(body[i]) || body[i] == '/')) ++i;
            size_t nameStart = i;
            while (i < body.size() && !isSpace(body[i]) && body[i] != '=' &&
                   body[i] != '/')
                ++i;
            std::string name = lower(body.substr(nameStart, i - nameStart));
            while (i < body.size() && isSpace(body[i])) ++i;
            std::string_view value;
            if (i < body.size() && body[i] == '=') {
                ++i;
                while (i < body.size() && isSpace(body[i])) ++i;
                if (i < body.size() && (body[i] == '"' || body[i] == '\'')) {
                    char quote = body[i++];
                    size_t close = body.find(quote, i);
                    if (close == std::string_view::npos) close = body.size();
                    value = body.substr(i, close - i);
                    i = close + 1;
                } else {
                    size_t valueStart = i;
                    while (i < body.size() && !isSpace(body[i])) ++i;
                    value = body.substr(valueStart, i - valueStart);
                }
            }
            if (name.empty() && value.empty()) {
                if (i == nameStart) ++i;  // a stray character: step over it
                continue;
            }
            value = value.substr(0, kMaxAttributeValue);
            if (name == "href") tag.href = std::string(value);
            else if (name == "alt") tag.alt = std::string(value);
            else if (name == "src") tag.src = std::string(value);
        }
        return tag;
    }

    static bool isHeading(const std::string& name) {
        return name.size() == 2 && name[0] == 'h' && std::isdigit(static_cast<unsigned char>(name[1]));
    }

    static Drop dropFor(const std::string& name) {
        if (name == "title") return Drop::kTitle;
        if (name == "meta") return Drop::kMeta;
        if (name == "script") return Drop::kScript;
        if (name == "style") return Drop::kStyle;
        return Drop::kNone;
    }

    void apply(const Tag& tag) {
        const std::string& n = tag.name;
        Drop d = dropFor(n);
        if (d != Drop::kNone) {
            if (tag.closing) {
                if (drop_ == d) drop_ = Drop::kNone;
            } else if (!tag.selfClosing && drop_ == Drop::kNone) {
                drop_ = d;
            }
            return;
        }
        if (n == "body") {
            // The body starts the visible text: a head region left open ends here.
            if (!tag.closing) drop_ = Drop::kNone;
            return;
        }
        if (drop_ != Drop::kNone) return;
        if (n == "br") {
            lineEnd(1);
        } else if (n == "p" || n == "div") {
            lineEnd(2);
        } else if (n == "a") {
            if (!tag.closing) {
                href_ = tag.href;
            } else if (!href_.empty()) {
                if (!out_.empty() && out_.back() != ' ' && !atLineStart()) out_ += ' ';
                out_ += '(';
                out_ += href_;
                out_ += ')';
                afterLineEnd_ = false;
                href_.clear();
            }
        } else if (n == "li" && !tag.closing) {
            newLine();
            out_ += "  * ";
        } else if (n == "hr" && !tag.closing) {
            lineEnd(1);
            out_.append(72, '-');
            lineEnd(1);
        } else if (isHeading(n)) {
            if (tag.closing) {
                lineEnd(2);
                caps_ = false;
            } else {
                newLine();
                caps_ = true;
            }
        } else if (n == "b") {
            caps_ = !tag.closing;
        } else if (n == "pre") {
            pre_ = !tag.closing;
        } else if (n == "img" && !tag.closing) {
            std::string image = "IMAGE " + tag.alt + (tag.alt.empty() ? "" : " ") + tag.src;
            bool caps = caps_;
            caps_ = false;
            literal(image);
            caps_ = caps;
        }
    }

    // An entity runs from '&' to the next ';' when that is near and the characters between
    // are letters, digits or '#'; anything else leaves the '&' as text.
    void handleEntity() {
        size_t semi = in_.substr(0, std::min(in_.size(), pos_ + kMaxEntityLength + 2)).find(';', pos_ + 1);
        bool entity = pos_ + 1 < in_.size() && !isSpace(in_[pos_ + 1]) &&
                      semi != std::string_view::npos && semi - pos_ - 1 <= kMaxEntityLength &&
                      semi > pos_ + 1;
        if (entity) {
            for (size_t i = pos_ + 1; i < semi; ++i)
                if (!std::isalnum(static_cast<unsigned char>(in_[i])) && in_[i] != '#') entity = false;
        }
        if (!entity) {
            ++pos_;
            text('&');
            return;
        }
        std::string_view name = in_.substr(pos_ + 1, semi - pos_ - 1);
        pos_ = semi + 1;
        struct Named {
            const char* name;
            const char* text;
        };
        static const Named kEntities[] = {
            {"amp", "&"}, {"#39", "'"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""},
            {"nbsp", " "}, {"copy", "(C)"}, {"reg", "(R)"}, {"apos", "'"},
        };
        for (const Named& e : kEntities) {
            if (name.size() == std::strlen(e.name) &&
                strncasecmp(name.data(), e.name, name.size()) == 0) {
                entityText(e.text);
                return;
            }
        }
        if (name.size() > 1 && name[0] == '#') {
            unsigned long code = 0;
            bool hex = name[1] == 'x' || name[1] == 'X';
            bool valid = name.size() > (hex ? 2u : 1u);
            for (size_t i = hex ? 2 : 1; i < name.size() && valid; ++i) {
                int digit = std::isdigit(static_cast<unsigned char>(name[i])) ? name[i] - '0'
                            : hex && std::isxdigit(static_cast<unsigned char>(name[i]))
                                ? std::tolower(static_cast<unsigned char>(name[i])) - 'a' + 10
                                : -1;
                if (digit < 0) valid = false;
                else code = code * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
                if (code > 0x10FFFF) valid = false;
            }
            if (valid && code != 0) {
                entityText(utf8(code));
                return;
            }
        }
        // Unknown entities stay as they were written.
        entityText(in_.substr(pos_ - name.size() - 2, name.size() + 2));
    }

    static std::string utf8(unsigned long code) {
        std::string s;
        if (code < 0x80) {
            s += static_cast<char>(code);
        } else if (code < 0x800) {
            s += static_cast<char>(0xC0 | (code >> 6));
            s += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            s += static_cast<char>(0xE0 | (code >> 12));
            s += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (code >> 18));
            s += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (code & 0x3F));
        }
        return s;
    }

    std::string_view in_;
    size_t pos_ = 0;
    std::string out_;
    std::string href_;
    Drop drop_ = Drop::kNone;
    bool pre_ = false;
    bool caps_ = false;
    bool afterLineEnd_ = true;
    bool quotesUsable_ = true;
    size_t noCloseFrom_ = std::string_view::npos;
};

} // namespace

String htmlToText(const char* html, size_t length) {
    if (!html || length == 0) return String();
    return String(Renderer(html, length).run());
}

} // namespace qarvel
