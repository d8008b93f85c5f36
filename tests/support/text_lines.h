// What a program or a peer wrote, taken apart for checks: its lines, the lines that begin with a
// text, and how often a text occurs.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace qarvel::test {

// The lines of text without their LF or CR LF; a last line without a line end counts too.
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line);
    }
    return out;
}

inline std::vector<std::string> linesStartingWith(const std::string& text, const std::string& start) {
    std::vector<std::string> out;
    for (const std::string& line : linesOf(text))
        if (line.starts_with(start)) out.push_back(line);
    return out;
}

inline size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace qarvel::test
