#include "update_source.h"

#include <algorithm>
#include <utility>

#include "partial_file.h"
#include "transfer.h"

namespace {

constexpr char kNewsFile[] = "text.txt";
constexpr char kNoNews[] = "ニュースはありません";
// A news box has no use for more; a broken server must not exhaust memory.
constexpr size_t kMaxNewsBytes = 1024 * 1024;
constexpr char kPartialSuffix[] = ".part";

} // namespace

CUpdateSource::CUpdateSource() : CUpdateSource(UPDATER_BASE_URL) {}

CUpdateSource::CUpdateSource(std::string baseUrl)
    : m_strBaseUrl(std::move(baseUrl)), m_strVersionFile("version.dat")
{
}

std::string FetchNews(const CUpdateSource& source)
{
    CTransfer transfer;
    if (!transfer.Open(source.m_strBaseUrl + kNewsFile))
        return kNoNews;
    // A read that fails part way leaves the news received so far.
    std::string news;
    ReadBody(transfer, [&news](const char* data, DWORD size) {
        news.append(data, std::min<size_t>(size, kMaxNewsBytes - news.size()));
        return news.size() < kMaxNewsBytes;
    });
    return news;
}

CDownloadJob::CDownloadJob(std::string fileName, std::string baseUrl)
    : m_strFileName(std::move(fileName)), m_strBaseUrl(std::move(baseUrl))
{
}

int CDownloadJob::Run()
{
    constexpr int kFailed = 1;
    CTransfer transfer;
    if (!transfer.Open(m_strBaseUrl + m_strFileName))
        return kFailed;

    CPartialFile file(m_strFileName + kPartialSuffix);
    if (!file.IsOpen())
        return kFailed;
    uint64_t received = 0;
    BodyEnd end = ReadBody(transfer, [&](const char* data, DWORD size) {
        received += size;
        return file.Write(data, size);
    });
    // An empty file is never a package; it is what a server that dropped the
    // connection after its status line leaves.
    if (end != BodyEnd::Complete || received == 0)
        return kFailed;
    // A connection that closes early ends the body short of what was announced.
    std::optional<uint64_t> announced = transfer.ContentLength();
    if (announced && *announced != received)
        return kFailed;
    return file.CommitAs(m_strFileName) ? 0 : kFailed;
}
