#include "http_answer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ContentLength, OnlyOnePlainLengthIsAnnounced)
{
    const struct {
        std::vector<std::string> values;
        std::optional<uint64_t> length;
        bool malformed;
    } cases[] = {
        {{}, std::nullopt, false},
        {{"0"}, 0, false},
        {{"9000"}, 9000, false},
        {{"4294967311"}, 4294967311u, false}, // beyond 32 bits
        {{"18446744073709551615"}, UINT64_MAX, false},
        {{"9000", "9000"}, 9000, false},
        {{"18446744073709551616"}, std::nullopt, true},
        {{"+9000"}, std::nullopt, true},
        {{"-1"}, std::nullopt, true},
        {{"9000, 9000"}, std::nullopt, true},
        {{"9 000"}, std::nullopt, true},
        {{"0x10"}, std::nullopt, true},
        {{""}, std::nullopt, true},
        {{"4500", "9000"}, std::nullopt, true},
        {{"9000", "4500"}, std::nullopt, true},
        {{"9000", "abc"}, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.values));
        AnnouncedLength length = ParseContentLength(c.values);
        EXPECT_EQ(length.value, c.length);
        EXPECT_EQ(length.malformed, c.malformed);
    }
}

TEST(ContentEncoding, OnlyNoneOrIdentityIsTheFileAsStored)
{
    for (const char* encoding : {"", "identity", "Identity", "IDENTITY"})
        EXPECT_TRUE(IsIdentityEncoding(encoding)) << encoding;
    for (const char* encoding : {"gzip", "br", "deflate", "identity, gzip", "identit", "identityx", "x-gzip"})
        EXPECT_FALSE(IsIdentityEncoding(encoding)) << encoding;
}

} // namespace
