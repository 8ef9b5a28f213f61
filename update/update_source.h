// The update server: where its files are, the news and the update package.
#pragma once

#include <string>

// The update directory on the server and the version file in it.
class CUpdateSource {
public:
    CUpdateSource();
    // For a server elsewhere, such as a local test server.
    explicit CUpdateSource(std::string baseUrl);

    std::string m_strBaseUrl;     // ends with "/": file names are appended as they are
    std::string m_strVersionFile; // "version.dat"
};

// The news text for the news box: the body of "text.txt" as code page 932
// bytes, at most 1 MiB of it, or "ニュースはありません" when the server
// cannot be reached or answers with an error.
std::string FetchNews(const CUpdateSource& source);

// Downloads the update package into the working folder.
class CDownloadJob {
public:
    CDownloadJob(std::string fileName, std::string baseUrl);

    // Fetches base URL + file name into the local file of that name. The file
    // is replaced only when the whole, non-empty body has arrived; on any
    // failure an existing file stays as it was. Returns 0 on success,
    // non-zero on failure.
    int Run();

    std::string m_strFileName;
    std::string m_strBaseUrl;
};

// The name of the update package, on the server and in the working folder.
inline constexpr char kUpdatePackage[] = "update.exe";
