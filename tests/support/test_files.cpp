#include "test_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

std::string PathOf(const CTemporaryWorkingFolder& folder)
{
    EXPECT_TRUE(folder.IsReady()) << "no working folder of its own";
    const std::wstring& path = folder.Path();
    int size = WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), ansi.data(), size, nullptr, nullptr);
    return ansi;
}

std::vector<std::string> EntriesOf(const CTemporaryWorkingFolder& folder)
{
    return FolderEntries(PathOf(folder));
}

std::vector<std::string> FolderEntries(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

std::optional<std::string> ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string ReleaseFolder()
{
    return UPDATER_RELEASE_BIN;
}

std::string SignedReleaseFolder()
{
    return UPDATER_SIGNED_RELEASE_BIN;
}

std::string PackageBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    if (size >= 2) {
        bytes[0] = 'M';
        bytes[1] = 'Z';
    }
    return bytes;
}
