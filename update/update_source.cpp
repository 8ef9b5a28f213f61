#include "update_source.h"

#include <utility>

#include "build_config.h"
#include "startup_fetch.h"

CUpdateSource::CUpdateSource() : CUpdateSource(BuiltInBaseUrl()) {}

CUpdateSource::CUpdateSource(std::string baseUrl)
    : m_strBaseUrl(std::move(baseUrl)), m_strVersionFile(kVersionFile)
{
}

NewsFetch FetchNews(const CUpdateSource& source, CTransfer::Clock::time_point until)
{
    StartupBody fetched = FetchStartupFile(source.m_strBaseUrl + kNewsFile, kMaxNewsBytes, until);
    return NewsFetch{std::move(fetched.body), std::move(fetched.transfer)};
}
