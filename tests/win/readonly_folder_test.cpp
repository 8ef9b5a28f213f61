// A download into an installation folder where nothing can be created: the
// folder is prepared outside Wine (see tests/faults/readonly_folder).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "bytes_equal.h"
#include "script_server.h"
#include "test_files.h"
#include "update_source.h"

namespace {

TEST(ReadOnlyFolder, DownloadFailsAndKeepsOldPackage)
{
    const char* path = std::getenv("UPDATER_READONLY_FOLDER");
    ASSERT_NE(path, nullptr) << "UPDATER_READONLY_FOLDER is not set";
    const std::string folder = path;
    const std::string probe = folder + "\\probe.txt";
    if (WriteWholeFile(probe, "x")) {
        DeleteFileA(probe.c_str());
        GTEST_SKIP() << "the folder could not be made read-only here";
    }
    std::optional<std::string> before = ReadWholeFile(folder + "\\update.exe");
    ASSERT_TRUE(before);
    const std::vector<std::string> entries = FolderEntries(folder);

    ScriptServer server;
    server.OnFile("/game/veltrassa_01/update/update.exe", PackageBytes(20000, 21));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    DownloadOutcome outcome = CDownloadJob("update.exe", server.BaseUrl()).Run().outcome;
    SetCurrentDirectoryA(previous);

    EXPECT_EQ(outcome, DownloadOutcome::CannotWrite);
    EXPECT_TRUE(SameBytes(ReadWholeFile(folder + "\\update.exe"), *before));
    EXPECT_EQ(FolderEntries(folder), entries) << "a file was left";
}

} // namespace
