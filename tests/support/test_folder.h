// A fresh, empty working folder for one test, removed afterwards.
#pragma once

#include <optional>
#include <string>
#include <vector>

class TestFolder {
public:
    // Creates the folder and makes it the working folder.
    TestFolder();
    // Restores the previous working folder and removes this one.
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Path() const { return m_path; }
    // The names of the files and folders in it.
    std::vector<std::string> Entries() const;

private:
    std::string m_previous;
    std::string m_path;
};

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
