#include "version_info.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "transfer.h"
#include "version.h"

CVersionInfo::CVersionInfo(std::string exeName) : m_strExeName(std::move(exeName)) {}

int CVersionInfo::FetchLatest(std::string url, Fetch* fetch)
{
    m_nRemote = 0;
    constexpr DWORD kBufferSize = 256;
    char buffer[kBufferSize] = {};
    CTransfer transfer;
    bool opened = transfer.Open(url);
    if (fetch)
        *fetch = Fetch{transfer.Info(), false, {}};
    if (!opened)
        return 0;
    // The whole file is expected in the first read; the zero fill ends the text.
    DWORD read = 0;
    if (transfer.Read(buffer, kBufferSize - 1, &read)) {
        m_nRemote = ParseVersionFile(std::string_view(buffer, read));
        if (fetch) {
            fetch->read = true;
            fetch->body.assign(buffer, read);
        }
    }
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
