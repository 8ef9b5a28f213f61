// The latest version, announced by the update server, and the current one,
// read from the game executable's version resource.
#pragma once

#include <string>
#include <string_view>

#include "transfer.h"
#include "transfer_bounds.h"

// The game executable, in the installation folder.
inline constexpr char kGameExecutable[] = "harun_tesli.exe";

// The version in the FileVersion of the Japanese Unicode string table
// (041104b0) of the program at path; 0 when there is none. A bare name is a
// file in the working folder.
int ReadFileVersion(std::wstring_view path);

class CVersionInfo {
public:
    explicit CVersionInfo(std::string exeName = kGameExecutable);

    // Sets m_nRemote from the version file at url; 0 when it cannot be
    // fetched, or until has passed before the request. Only the first 255
    // bytes of the body count, and only what arrived of them within
    // kVersionFileTime from the answer and before until (FetchStartupFile).
    VersionFileFetch FetchLatest(std::string url,
                                 CTransfer::Clock::time_point until = CTransfer::Clock::now() + kStartupFetchTime);

    // Sets m_nLocal from the FileVersion of m_strExeName (ReadFileVersion),
    // and returns it.
    int ReadCurrent();

    std::string m_strExeName;
    int m_nRemote = 0;
    int m_nLocal = 0;
};
