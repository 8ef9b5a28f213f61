#include "temporary_folder.h"

#include <windows.h>

#include <memory>

namespace {

struct FindCloser {
    void operator()(HANDLE find) const noexcept { FindClose(find); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

// Read-only files and folders too: a test may leave them.
void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE first = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (first != INVALID_HANDLE_VALUE) {
        FindHandle find(first);
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find.get(), &entry));
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

} // namespace

CTemporaryWorkingFolder::CTemporaryWorkingFolder(const std::wstring& prefix)
{
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return;
    m_previous.assign(buffer, length);
    length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return;
    const std::wstring base = std::wstring(buffer, length) + prefix + std::to_wstring(GetCurrentProcessId()) + L"_";
    for (unsigned attempt = 1; attempt <= 100; ++attempt) {
        std::wstring path = base + std::to_wstring(attempt);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            m_path = path;
            break;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
    m_entered = !m_path.empty() && SetCurrentDirectoryW(m_path.c_str());
}

CTemporaryWorkingFolder::~CTemporaryWorkingFolder()
{
    if (m_entered)
        SetCurrentDirectoryW(m_previous.c_str());
    if (!m_path.empty())
        RemoveTree(m_path);
}
