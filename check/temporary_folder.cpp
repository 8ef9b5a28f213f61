#include "temporary_folder.h"

#include <windows.h>

#include <memory>

namespace {

struct FindCloser {
    void operator()(HANDLE find) const noexcept { FindClose(find); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

// The folder holds only files: the package and its partial download.
void RemoveFolder(const std::wstring& path)
{
    WIN32_FIND_DATAW entry;
    HANDLE first = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (first != INVALID_HANDLE_VALUE) {
        FindHandle find(first);
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((path + L"\\" + entry.cFileName).c_str());
        } while (FindNextFileW(find.get(), &entry));
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace

CTemporaryWorkingFolder::CTemporaryWorkingFolder()
{
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return;
    m_previous.assign(buffer, length);
    length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH)
        return;
    std::wstring base(buffer, length);
    for (unsigned attempt = 1; attempt <= 100; ++attempt) {
        std::wstring path = base + L"updater_check_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                            std::to_wstring(attempt);
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
        RemoveFolder(m_path);
}
