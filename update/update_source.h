// The update server: where its files are, the news and the update package.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "transfer.h"
#include "transfer_bounds.h"

// The update directory on the server and the version file in it.
class CUpdateSource {
public:
    // The update directory built into this program.
    CUpdateSource();
    // For a server elsewhere, such as a local test server.
    explicit CUpdateSource(std::string baseUrl);

    std::string m_strBaseUrl;     // ends with "/": file names are appended as they are
    std::string m_strVersionFile; // "version.dat"
};

// The news for the news box: the body of "text.txt" as code page 932 bytes,
// at most 1 MiB of it and what arrived of it before until
// (FetchStartupFile). No news when the server cannot be reached or answers
// with an error, or until has passed before the request.
NewsFetch FetchNews(const CUpdateSource& source,
                    CTransfer::Clock::time_point until = CTransfer::Clock::now() + kStartupFetchTime);

// What the news box shows when there is no news.
inline constexpr char kNoNews[] = "ニュースはありません";

// The news cap: a news box has no use for more, and a broken server must not
// exhaust memory.
inline constexpr size_t kMaxNewsBytes = 1024 * 1024;

// Downloads the update package into the working folder.
class CDownloadJob {
public:
    // Packages are checked with the key built into this program, if any.
    CDownloadJob(std::string fileName, std::string baseUrl);
    // Packages are checked with packageKey (PEM), or not at all when it is empty.
    CDownloadJob(std::string fileName, std::string baseUrl, std::string packageKey);

    // Fetches base URL + file name into the local file of that name in the
    // working folder. With a package key, the detached signature base URL +
    // file name + ".sig" is fetched first and must verify over the package.
    // Only a plain answer is taken (status 200, one announced length, no
    // encoding); without a package key, only one whose length is announced
    // (FramedByOneLength): nothing else would tell a cut package from a whole
    // one. The package goes to a temporary file of this process's own
    // and replaces the file only when the whole, non-empty (and verified) body
    // has arrived; on any failure an existing file stays as it was.
    PackageDownload Run();

    std::string m_strFileName;
    std::string m_strBaseUrl;
    std::string m_strPackageKey; // PEM public key; empty: packages are not signed

    // Handles the thread's messages while the download waits, or nullptr.
    // When it asks to stop, the download ends as Stopped, the file untouched.
    CWaitHook* m_waitHook = nullptr;

    // Called after each piece of the package is written, with the piece, the
    // bytes so far and the announced size, when there is one.
    std::function<void(std::string_view piece, uint64_t received, std::optional<uint64_t> total)> m_onProgress;

private:
    DownloadOutcome Download(PackageDownload& download);
};
