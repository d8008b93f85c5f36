// A check that a text holds a part, which shows the whole text when it fails either way.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace qarvel::test {

inline ::testing::AssertionResult has(const std::string& text, const std::string& part) {
    if (text.find(part) == std::string::npos) return ::testing::AssertionFailure() << "no [" << part << "] in\n" << text;
    return ::testing::AssertionSuccess() << "[" << part << "] in\n" << text;
}

}  // namespace qarvel::test
