// A fresh folder under /tmp for one test, removed with everything in it when the test ends.
#pragma once

#include <string>

namespace qarvel::test {

class TempFolder {
public:
    TempFolder();
    // Write permission is given back first, as a test may take it away to make writes fail.
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The path of a name inside the folder.
    std::string file(const std::string& name) const { return path + "/" + name; }
    // Writes the text (as bytes) into the named file and returns its path.
    std::string put(const std::string& name, const std::string& text) const;
    // The bytes of the named file (empty when it cannot be read).
    std::string read(const std::string& name) const;
    // Every name in the folder (those with a leading dot too), sorted, blank-separated.
    std::string names() const;

    std::string path;
};

}  // namespace qarvel::test
