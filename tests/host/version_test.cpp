#include "version.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

TEST(VersionFile, ReadsAsTheCTokenizerAndAtoiDo)
{
    const struct {
        std::string body;
        int64_t major, minor;
        int value;
    } cases[] = {
        {"version=1,5;", 1, 5, 1005},
        {"version=1,10", 1, 10, 1010},
        {"version=1,,5;", 1, 5, 1005},
        {"version=1,1005;", 1, 1005, 2005},
        {"\xEF\xBB\xBFversion=1,5;", 1, 5, 1005}, // a byte-order mark only lengthens the key
        {"version=1,5\r\n", 1, 5, 1005},
        {"version= 1, 5;", 1, 5, 1005},
        {"version=+1,-5;", 1, -5, 995},
        {";;version;=1,5", 0, 5, 5},
        {"version=1.5;", 1, 0, 1000},
        {"", 0, 0, 0},
        {"version=1;", 1, 0, 1000},
        {"<html><body>404 Not Found</body></html>", 0, 0, 0},
        {"version=99999999999999999999,0;", INT_MAX, 0, INT_MAX},
        {"version=-99999999999999999999,0;", INT_MIN, 0, INT_MIN},
        {"version=2147484,0;", 2147484, 0, INT_MAX},
        {std::string("version=1\0,5;", 13), 1, 0, 1000}, // only the text before a NUL counts
        // Only the first 255 bytes count: the minor "23" straddles byte 255 when the key is one longer.
        {std::string(250, 'k') + "=1,23;", 1, 23, 1023},
        {std::string(251, 'k') + "=1,23;", 1, 2, 1002},
    };
    for (const auto& c : cases) {
        VersionFields fields = ParseVersionFileFields(c.body);
        EXPECT_EQ(fields.major, c.major) << c.body;
        EXPECT_EQ(fields.minor, c.minor) << c.body;
        EXPECT_EQ(fields.value, c.value) << c.body;
        EXPECT_EQ(ParseVersionFile(c.body), c.value) << c.body;
    }
}

// What a release writes into version.dat from its new game's version: the
// plain form, read back as that version.
TEST(VersionFile, WrittenInThePlainForm)
{
    const struct {
        int value;
        std::string body;
    } cases[] = {
        {1005, "version=1,5;"}, {1010, "version=1,10;"}, {1100, "version=1,100;"}, {2000, "version=2,0;"},
        {999, "version=0,999;"}, {1, "version=0,1;"}, {INT_MAX, "version=2147483,647;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatVersionFile(c.value), c.body) << c.value;
        EXPECT_EQ(ParseVersionFile(FormatVersionFile(c.value)), c.value) << c.value;
    }
}

TEST(FileVersion, FirstTwoFieldsOfTheFirst255Characters)
{
    const struct {
        std::string fileVersion;
        int value;
    } cases[] = {
        {"1, 5, 0, 0", 1005},
        {"2,12,0,0", 2012},
        {"1, 2, 3, 4", 1002},
        {"", 0},
        {"3", 3000},
        {"1.5.0.0", 1000},
        {",5", 5}, // right-aligned in 8 characters, the empty major is a token of spaces
        {"x, y", 0},
        {"99999999999, 0", INT_MAX},
        {std::string(252, ' ') + "1,5", 1005},
        {std::string(254, ' ') + "1,5", 1000},
        {"1, 5," + std::string(300, '9'), 1005},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseFileVersion(c.fileVersion), c.value) << c.fileVersion;
}

// The lines have always been printf's "%2d.%02d" of major and minor, after
// labels in code page 932.
TEST(DisplayLine, LabelAndWhatPrintfWrites)
{
    EXPECT_EQ(FormatLatestLine(1005).substr(0, 2), "\x8D\xC5"); // "最"
    for (int version : {INT_MIN, -1005, -999, -5, 0, 5, 99, 999, 1000, 1005, 1100, 12034, 123456, INT_MAX}) {
        char tail[64];
        std::snprintf(tail, sizeof tail, "%2d.%02d", version / 1000, version % 1000);
        EXPECT_EQ(FormatLatestLine(version), "最新バージョン " + std::string(tail)) << version;
        EXPECT_EQ(FormatCurrentLine(version), "現在のバージョン " + std::string(tail)) << version;
    }
}

TEST(UpdateAvailable, OnlyWhenCurrentIsBelowLatest)
{
    EXPECT_TRUE(IsUpdateAvailable(1004, 1005));
    EXPECT_FALSE(IsUpdateAvailable(1005, 1005));
    EXPECT_FALSE(IsUpdateAvailable(1006, 1005));
}

} // namespace
