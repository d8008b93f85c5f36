// A FILE* whose bytes a test reads back as a string.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qarvel::test {

class MemoryOut {
public:
    MemoryOut() : file(open_memstream(&data_, &size_)) {}
    ~MemoryOut() {
        if (file) std::fclose(file);
        std::free(data_);
    }
    MemoryOut(const MemoryOut&) = delete;
    MemoryOut& operator=(const MemoryOut&) = delete;
    std::string text() {
        std::fflush(file);
        return std::string(data_, size_);
    }
    FILE* file;

private:
    char* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace qarvel::test
