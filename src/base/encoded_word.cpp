// Encoded words in header text: the Q form out, both forms in.
#include "base/encoded_word.h"

#include <algorithm>
#include <string>

#include "base/base64.h"
#include "base/quoted_printable.h"

namespace qarvel {

namespace {

std::string trimTrailingSpaces(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

}  // namespace

String encodeWord(const String& charset, bool enabled, const String& text, bool stopAtAngle) {
    if (!enabled) return text;
    bool high = false;
    for (size_t i = 0; i < text.length(); ++i)
        if (static_cast<unsigned char>(text[i]) > 127) high = true;
    if (!high) return text;
    String rest;
    String encoded = quotedPrintableEncode(text.c_str(), text.length(), true, stopAtAngle, &rest);
    std::string word = "=?";
    word.append(charset.c_str(), charset.length());
    word += "?Q?";
    word.append(encoded.c_str(), encoded.length());
    word += "?=";
    word.append(rest.c_str(), rest.length());
    return String(word);
}

String decodeEncodedWords(const String& input, String* charset) {
    std::string_view text = input.view();
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return String();
    std::string_view body = text.substr(start);
    if (body.find("=?") == std::string_view::npos || body.find("?=") == std::string_view::npos)
        return String(trimTrailingSpaces(std::string(body)));
    if (charset) *charset = String();
    std::string out;
    size_t i = 0;
    while (i < body.size()) {
        if (body[i] != '=' || i + 1 >= body.size() || body[i + 1] != '?') {
            out += body[i++];
            continue;
        }
        size_t charsetEnd = body.find('?', i + 2);
        if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= body.size() ||
            body[charsetEnd + 2] != '?')
            return input;
        char form = body[charsetEnd + 1];
        size_t dataStart = charsetEnd + 3;
        size_t dataEnd = body.find('?', dataStart);
        if (dataEnd == std::string_view::npos) return input;
        std::string_view data = body.substr(dataStart, dataEnd - dataStart);
        if (form == 'Q' || form == 'q') {
            for (size_t k = 0; k < data.size(); ++k) {
                if (data[k] == '_') {
                    out += ' ';
                } else if (data[k] == '=') {
                    char h = k + 1 < data.size() ? data[k + 1] : '0';
                    char l = k + 2 < data.size() ? data[k + 2] : '0';
                    // Bad digits count as 0.
                    out += static_cast<char>(std::max(0, hexDigitValue(h)) * 16 + std::max(0, hexDigitValue(l)));
                    k += 2;
                } else {
                    out += data[k];
                }
            }
        } else if (form == 'B' || form == 'b') {
            String bytes = base64Decode(data.data(), data.size());
            out.append(bytes.c_str(), bytes.length());
        } else {
            return input;
        }
        if (charset) *charset = String(std::string(body.substr(i + 2, charsetEnd - i - 2)));
        // The "?" that ends the data starts "?=": skip both.
        i = dataEnd + 2;
    }
    return String(trimTrailingSpaces(out));
}

}  // namespace qarvel
