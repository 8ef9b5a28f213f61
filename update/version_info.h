// The latest version, announced by the update server, and the current one,
// read from the game executable's version resource.
#pragma once

#include <string>

#include "transfer.h"
#include "transfer_bounds.h"

// The game executable, in the installation folder.
inline constexpr char kGameExecutable[] = "harun_tesli.exe";

class CVersionInfo {
public:
    explicit CVersionInfo(std::string exeName = kGameExecutable);

    // What a fetch of the version file met, for those who report on the server.
    struct Fetch {
        TransferInfo transfer;
        bool read = false; // the first read gathered something, or the whole body
        std::string body;  // what it gathered: all that counts
    };

    // Sets m_nRemote from the version file at url; 0 when it cannot be
    // fetched. Only the first read of the body counts: the first 255 bytes,
    // or what arrived of them within kVersionFileTime of the body's start
    // and before until. fetch, when given, receives the transfer and the
    // body as read.
    int FetchLatest(std::string url, Fetch* fetch = nullptr,
                    CTransfer::Clock::time_point until = CTransfer::Clock::now() + kStartupFetchTime);

    // Sets m_nLocal from the FileVersion of m_strExeName's Japanese Unicode
    // string table (041104b0); 0 when there is none. A bare name is a file in
    // the working folder.
    int ReadCurrent();

    std::string m_strExeName;
    int m_nRemote = 0;
    int m_nLocal = 0;
};
