#include "version.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

struct VersionFileCase {
    std::string body;
    int expected;
};

class VersionFileTest : public testing::TestWithParam<VersionFileCase> {};

TEST_P(VersionFileTest, ParsesLatestVersion)
{
    EXPECT_EQ(ParseVersionFile(GetParam().body), GetParam().expected) << GetParam().body;
    EXPECT_EQ(ParseVersionFileFields(GetParam().body).value, GetParam().expected) << GetParam().body;
}

INSTANTIATE_TEST_SUITE_P(
    AnnouncedBodies, VersionFileTest,
    testing::Values(
        VersionFileCase{"version=1,5;", 1005}, VersionFileCase{"version=2,3;", 2003},
        VersionFileCase{"version=1,10", 1010}, VersionFileCase{"version=1,,5;", 1005},
        VersionFileCase{"version==1,5;", 5}, VersionFileCase{"version=1,1005;", 2005},
        VersionFileCase{"Version=1,5;", 1005},
        // A byte-order mark only lengthens the key.
        VersionFileCase{"\xEF\xBB\xBFversion=1,5;", 1005},
        VersionFileCase{"version=1,5;\r\n", 1005}, VersionFileCase{"version=1,5\r\n", 1005},
        VersionFileCase{"version= 1, 5;", 1005}, VersionFileCase{"version=+1,-5;", 995},
        VersionFileCase{"anything=3,7;", 3007}, VersionFileCase{";;version;=1,5", 5},
        VersionFileCase{"version=1.5;", 1000}));

INSTANTIATE_TEST_SUITE_P(
    MissingTokens, VersionFileTest,
    testing::Values(VersionFileCase{"", 0}, VersionFileCase{"version", 0},
                    VersionFileCase{"version=", 0}, VersionFileCase{"version=1", 1000},
                    VersionFileCase{"version=1;", 1000}, VersionFileCase{"=;,;", 0},
                    VersionFileCase{"<html><body>404 Not Found</body></html>", 0}));

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, VersionFileTest,
    testing::Values(VersionFileCase{"version=99999999999999999999,0;", INT_MAX},
                    VersionFileCase{"version=-99999999999999999999,0;", INT_MIN},
                    VersionFileCase{"version=2147483,647;", INT_MAX},
                    VersionFileCase{"version=2147484,0;", INT_MAX},
                    VersionFileCase{"version=0,2147483648;", INT_MAX}));

TEST(VersionFile, FieldsAreTheNumbersBeforeTheyAreCombined)
{
    const struct {
        const char* body;
        int64_t major;
        int64_t minor;
    } cases[] = {
        {"version=1,5;", 1, 5},
        {"version=1,1005;", 1, 1005},
        {"version=+1,-5;", 1, -5},
        {"version=1.5;", 1, 0},
        {"<html>", 0, 0},
        {"version=99999999999999999999,0;", INT_MAX, 0},
    };
    for (const auto& c : cases) {
        VersionFields fields = ParseVersionFileFields(c.body);
        EXPECT_EQ(fields.major, c.major) << c.body;
        EXPECT_EQ(fields.minor, c.minor) << c.body;
    }
}

TEST(VersionFile, OnlyTheTextBeforeANulCounts)
{
    EXPECT_EQ(ParseVersionFile(std::string("version=1,5;", 12)), 1005);
    EXPECT_EQ(ParseVersionFile(std::string("version=1\0,5;", 13)), 1000);
}

TEST(VersionFile, OnlyTheFirst255BytesCount)
{
    // The minor "23" straddles byte 255: only its "2" counts.
    std::string body = std::string(251, 'k') + "=1,23;";
    EXPECT_EQ(ParseVersionFile(body), 1002);
    EXPECT_EQ(ParseVersionFile(std::string(250, 'k') + "=1,23;"), 1023);
}

struct FileVersionCase {
    std::string fileVersion;
    int expected;
};

class FileVersionTest : public testing::TestWithParam<FileVersionCase> {};

TEST_P(FileVersionTest, ParsesCurrentVersion)
{
    EXPECT_EQ(ParseFileVersion(GetParam().fileVersion), GetParam().expected)
        << GetParam().fileVersion;
}

INSTANTIATE_TEST_SUITE_P(
    ResourceStrings, FileVersionTest,
    testing::Values(FileVersionCase{"1, 0, 0, 1", 1000}, FileVersionCase{"1, 5, 0, 0", 1005},
                    FileVersionCase{"2,12,0,0", 2012}, FileVersionCase{"1, 2, 3, 4", 1002},
                    FileVersionCase{"1, 2, 0, 0", 1002}, FileVersionCase{"1,5", 1005},
                    FileVersionCase{"12, 34", 12034}));

INSTANTIATE_TEST_SUITE_P(
    Malformed, FileVersionTest,
    testing::Values(FileVersionCase{"", 0}, FileVersionCase{"3", 3000},
                    FileVersionCase{"1.5.0.0", 1000}, FileVersionCase{",,,", 0},
                    FileVersionCase{",5", 5}, FileVersionCase{"x, y", 0},
                    FileVersionCase{"99999999999, 0", INT_MAX}));

TEST(FileVersion, OnlyTheFirst255CharactersCount)
{
    EXPECT_EQ(ParseFileVersion(std::string(254, ' ') + "1,5"), 1000);
    EXPECT_EQ(ParseFileVersion(std::string(252, ' ') + "1,5"), 1005);
    EXPECT_EQ(ParseFileVersion("1, 5," + std::string(300, '9')), 1005);
}

struct DisplayCase {
    int version;
    std::string tail;
};

class DisplayLineTest : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayLineTest, FormatsBothLines)
{
    EXPECT_EQ(FormatLatestLine(GetParam().version), "最新バージョン " + GetParam().tail);
    EXPECT_EQ(FormatCurrentLine(GetParam().version), "現在のバージョン " + GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(Values, DisplayLineTest,
                         testing::Values(DisplayCase{1005, " 1.05"}, DisplayCase{0, " 0.00"},
                                         DisplayCase{1100, " 1.100"}, DisplayCase{12034, "12.34"},
                                         DisplayCase{1004, " 1.04"}, DisplayCase{999, " 0.999"},
                                         DisplayCase{123456, "123.456"}));

// The lines have always been printf's "%2d.%02d" of major and minor.
TEST(DisplayLine, ValueIsWhatPrintfWrites)
{
    for (int version : {INT_MIN, -100000, -1005, -1000, -999, -10, -5, -1, 0, 1, 5, 9, 10, 99, 100, 999, 1000, 1005,
                        9999, 10000, 99999, 123456, INT_MAX}) {
        char tail[64];
        std::snprintf(tail, sizeof tail, "%2d.%02d", version / 1000, version % 1000);
        EXPECT_EQ(FormatLatestLine(version), "最新バージョン " + std::string(tail)) << version;
        EXPECT_EQ(FormatCurrentLine(version), "現在のバージョン " + std::string(tail)) << version;
    }
}

TEST(DisplayLine, ExtremeValuesFit)
{
    EXPECT_EQ(FormatLatestLine(INT_MAX), "最新バージョン 2147483.647");
    EXPECT_EQ(FormatCurrentLine(INT_MIN), "現在のバージョン -2147483.-648");
}

TEST(DisplayLine, LabelsAreCodePage932)
{
    // "最" is 0x8DC5 in code page 932.
    std::string line = FormatLatestLine(0);
    ASSERT_GE(line.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(line[0]), 0x8D);
    EXPECT_EQ(static_cast<unsigned char>(line[1]), 0xC5);
}

TEST(UpdateAvailable, OnlyWhenCurrentIsBelowLatest)
{
    EXPECT_TRUE(IsUpdateAvailable(1004, 1005));
    EXPECT_FALSE(IsUpdateAvailable(1005, 1005));
    EXPECT_FALSE(IsUpdateAvailable(1006, 1005));
    EXPECT_FALSE(IsUpdateAvailable(0, 0));
    EXPECT_TRUE(IsUpdateAvailable(0, 1));
    EXPECT_FALSE(IsUpdateAvailable(0, -5));
}

} // namespace
