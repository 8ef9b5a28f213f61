#include "version_info.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "transfer.h"
#include "version.h"

CVersionInfo::CVersionInfo(std::string exeName) : m_strExeName(std::move(exeName)) {}

int CVersionInfo::FetchLatest(std::string url, Fetch* fetch, CTransfer::Clock::time_point until)
{
    m_nRemote = 0;
    // The file has always been read into a 256-byte buffer whose zero fill
    // ends the text.
    constexpr size_t kMaxBody = 255;
    CTransfer transfer;
    bool opened = transfer.Open(url, ReadLimits{until});
    if (fetch)
        *fetch = Fetch{transfer.Info(), false, {}};
    if (!opened)
        return 0;
    std::string body;
    ReadLimits limits{std::min(until, CTransfer::Clock::now() + kVersionFileTime)};
    BodyEnd end = transfer.ReadBody(
        [&body](const char* data, DWORD size) {
            body.append(data, std::min<size_t>(size, kMaxBody - body.size()));
            return body.size() < kMaxBody;
        },
        limits);
    bool read = !body.empty() || end == BodyEnd::Complete;
    if (read)
        m_nRemote = ParseVersionFile(body);
    if (fetch)
        *fetch = Fetch{transfer.Info(), read, body};
    return 0;
}

int CVersionInfo::ReadCurrent()
{
    m_nLocal = 0;
    // A bare name is the game in the working folder, where it is started: as
    // a module name it would be searched for, in the updater's folder first.
    const std::string path =
        m_strExeName.find_first_of("\\/") == std::string::npos ? ".\\" + m_strExeName : m_strExeName;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return 0;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
    if (!block || !GetFileVersionInfoA(path.c_str(), 0, size, block.get()))
        return 0;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.get(), "\\StringFileInfo\\041104b0\\FileVersion",
                        reinterpret_cast<void**>(&value), &length) || !value)
        return 0;
    m_nLocal = ParseFileVersion(std::string_view(value, strnlen(value, length)));
    return 0;
}
