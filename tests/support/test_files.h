// The files of the Windows tests: the working folder of each test, files read
// and written whole, and the folders of the programs under test.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "temporary_folder.h"

// The start of the name of each test's working folder.
inline constexpr wchar_t kTestFolderPrefix[] = L"updater_test_";

// A test's working folder's path as the tests' A functions take it, and the
// names of what is in it; a failure of the test when it was not made.
std::string PathOf(const CTemporaryWorkingFolder& folder);
std::vector<std::string> EntriesOf(const CTemporaryWorkingFolder& folder);
// The names of the files and folders in a folder.
std::vector<std::string> FolderEntries(const std::string& path);
std::optional<std::string> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// The folder that holds the running test program, with a trailing backslash.
std::string ProgramFolder();
// The folder of the release build's programs, exactly as they ship, with a
// trailing backslash.
std::string ReleaseFolder();
// The folder of the release build's programs signed with Authenticode, as a
// publisher ships them, with a trailing backslash.
std::string SignedReleaseFolder();
// Bytes that look like an executable package: a fixed pseudo-random pattern.
std::string PackageBytes(size_t size, unsigned seed);
