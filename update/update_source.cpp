#include "update_source.h"

#include <algorithm>
#include <utility>

#include "build_config.h"

CUpdateSource::CUpdateSource() : CUpdateSource(BuiltInBaseUrl()) {}

CUpdateSource::CUpdateSource(std::string baseUrl)
    : m_strBaseUrl(std::move(baseUrl)), m_strVersionFile(kVersionFile)
{
}

NewsFetch FetchNews(const CUpdateSource& source, CTransfer::Clock::time_point until)
{
    NewsFetch fetch;
    const std::string url = source.m_strBaseUrl + kNewsFile;
    // Due after the start-up's time is up, it is not sent: the window must show.
    if (CTransfer::Clock::now() >= until) {
        fetch.transfer.requestedUrl = fetch.transfer.url = url;
        fetch.transfer.error = TransferError::NoTimeLeft;
        return fetch;
    }
    CTransfer transfer;
    bool opened = transfer.Open(url, ReadLimits{until});
    fetch.transfer = transfer.Info();
    if (!opened)
        return fetch;
    // A read that fails part way, or the end of the start-up's time, leaves
    // the news received so far.
    std::string& news = fetch.news.emplace();
    transfer.ReadBody(
        [&news](const char* data, DWORD size) {
            news.append(data, std::min<size_t>(size, kMaxNewsBytes - news.size()));
            return news.size() < kMaxNewsBytes;
        },
        ReadLimits{until});
    fetch.transfer = transfer.Info();
    return fetch;
}
