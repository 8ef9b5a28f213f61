// Compares byte strings without printing them: packages are binary and large.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

inline testing::AssertionResult SameBytes(const std::optional<std::string>& actual,
                                          const std::string& expected)
{
    if (!actual)
        return testing::AssertionFailure() << "no file";
    if (*actual == expected)
        return testing::AssertionSuccess();
    size_t common = std::min(actual->size(), expected.size());
    size_t at = static_cast<size_t>(
        std::mismatch(actual->begin(), actual->begin() + common, expected.begin()).first -
        actual->begin());
    return testing::AssertionFailure() << actual->size() << " bytes against " << expected.size()
                                       << " expected, first difference at byte " << at;
}
