#include <gtest/gtest.h>

#include <windows.h>

#include "test_files.h"
#include "version_info.h"

namespace {

// The version ReadCurrent gives back, which it must also have set.
int ReadCurrentOf(const std::string& fixture)
{
    CVersionInfo info(ProgramFolder() + fixture);
    info.m_nLocal = 4242;
    int read = info.ReadCurrent();
    EXPECT_EQ(info.m_nLocal, read) << fixture;
    return read;
}

struct ResourceCase {
    const char* fixture;
    int expected;
};

class ReadCurrentTest : public testing::TestWithParam<ResourceCase> {};

TEST_P(ReadCurrentTest, ReadsJapaneseUnicodeFileVersion)
{
    EXPECT_EQ(ReadCurrentOf(GetParam().fixture), GetParam().expected) << GetParam().fixture;
}

INSTANTIATE_TEST_SUITE_P(
    Executables, ReadCurrentTest,
    testing::Values(ResourceCase{"game_1_0_0_1.exe", 1000}, ResourceCase{"game_1_5_0_0.exe", 1005},
                    ResourceCase{"game_2_12_0_0.exe", 2012}, ResourceCase{"game_1_2_3_4.exe", 1002},
                    // Only the 041104b0 string table counts.
                    ResourceCase{"game_english_only.exe", 0},
                    ResourceCase{"game_japanese_ansi_only.exe", 0},
                    ResourceCase{"game_no_version.exe", 0},
                    ResourceCase{"no_such_game.exe", 0},
                    ResourceCase{"game_long_version.exe", 7008}));

TEST(ReadCurrent, FindsGameByBareNameInInstallationFolder)
{
    CTemporaryWorkingFolder folder{kTestFolderPrefix};
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "game_1_5_0_0.exe").c_str(),
                          (PathOf(folder) + "\\harun_tesli.exe").c_str(), FALSE));
    CVersionInfo info;
    EXPECT_EQ(info.m_strExeName, "harun_tesli.exe");
    EXPECT_EQ(info.ReadCurrent(), 1005);
    EXPECT_EQ(info.m_nLocal, 1005);
}

} // namespace
