#include "support/temp_folder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace qarvel::test {

TempFolder::TempFolder() {
    char name[] = "/tmp/qarvel-test-XXXXXX";
    if (!::mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
    path = name;
}

TempFolder::~TempFolder() {
    std::string command = "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) {}
}

std::string TempFolder::put(const std::string& name, const std::string& text) const {
    std::string p = file(name);
    std::ofstream(p, std::ios::binary) << text;
    return p;
}

std::string TempFolder::read(const std::string& name) const {
    std::ostringstream text;
    text << std::ifstream(file(name), std::ios::binary).rdbuf();
    return text.str();
}

std::string TempFolder::names() const {
    std::set<std::string> sorted;
    for (const auto& entry : std::filesystem::directory_iterator(path)) sorted.insert(entry.path().filename());
    std::string out;
    for (const std::string& name : sorted) out += (out.empty() ? "" : " ") + name;
    return out;
}

}  // namespace qarvel::test
