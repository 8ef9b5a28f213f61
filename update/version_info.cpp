#include "version_info.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>
#include <utility>

#include "startup_fetch.h"
#include "text.h"
#include "transfer.h"
#include "version.h"

CVersionInfo::CVersionInfo(std::string exeName) : m_strExeName(std::move(exeName)) {}

VersionFileFetch CVersionInfo::FetchLatest(std::string url, CTransfer::Clock::time_point until)
{
    m_nRemote = 0;
    // The file has always been read into a 256-byte buffer whose zero fill
    // ends the text.
    constexpr size_t kMaxBody = 255;
    StartupBody fetched = FetchStartupFile(url, kMaxBody, until, kVersionFileTime);
    VersionFileFetch fetch{std::nullopt, std::move(fetched.transfer)};
    // A read that failed before any byte of the body gives no version file.
    if (fetched.body && (!fetched.body->empty() || fetch.transfer.bodyEnd == BodyEnd::Complete)) {
        m_nRemote = ParseVersionFile(*fetched.body);
        fetch.body = std::move(fetched.body);
    }
    return fetch;
}

int ReadFileVersion(std::wstring_view path)
{
    // A bare name is the game in the working folder, where it is started: as
    // a module name it would be searched for, in the updater's folder first.
    const std::wstring file =
        path.find_first_of(L"\\/") == std::wstring_view::npos ? L".\\" + std::wstring(path) : std::wstring(path);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0)
        return 0;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block || !GetFileVersionInfoW(file.c_str(), 0, size, block.get()))
        return 0;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.get(), L"\\StringFileInfo\\041104b0\\FileVersion",
                        reinterpret_cast<void**>(&value), &length) || !value)
        return 0;
    return ParseFileVersion(Cp932FromWide(std::wstring_view(value, wcsnlen(value, length))));
}

int CVersionInfo::ReadCurrent()
{
    return m_nLocal = ReadFileVersion(WideFromCp932(m_strExeName));
}
