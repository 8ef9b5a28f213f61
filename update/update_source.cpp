#include "update_source.h"

#include <algorithm>
#include <utility>

#include "build_config.h"
#include "length_framing.h"
#include "package_signature.h"
#include "partial_file.h"

namespace {

// The body of a signature file into signature, or the outcome that stops the
// download: the file cannot be fetched, is not a plain answer, or does not
// arrive whole within the size of any signature.
std::optional<DownloadOutcome> FetchSignature(const std::string& url, CWaitHook* hook, TransferInfo& info,
                                             std::string& signature)
{
    CTransfer transfer(hook);
    bool opened = transfer.Open(url, ReadLimits{std::nullopt, true});
    info = transfer.Info();
    if (info.error == TransferError::TooSlow)
        return DownloadOutcome::TooSlow;
    if (info.error == TransferError::Stopped)
        return DownloadOutcome::Stopped;
    if (!opened)
        return DownloadOutcome::SignatureMissing;
    if (DownloadAnswerFault(info) != AnswerFault::None)
        return DownloadOutcome::SignatureNotPlainAnswer;
    BodyEnd end = transfer.ReadBody(
        [&signature](const char* data, DWORD size) {
            signature.append(data, size);
            return signature.size() <= kMaxSignatureBytes;
        },
        ReadLimits{std::nullopt, true});
    info = transfer.Info();
    if (signature.size() > kMaxSignatureBytes)
        return DownloadOutcome::SignatureTooLarge;
    if (end == BodyEnd::Stopped)
        return DownloadOutcome::Stopped;
    if (end == BodyEnd::TooSlow)
        return DownloadOutcome::TooSlow;
    if (end != BodyEnd::Complete || (info.contentLength && *info.contentLength != signature.size()))
        return DownloadOutcome::SignatureMissing;
    return std::nullopt;
}

} // namespace

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

CDownloadJob::CDownloadJob(std::string fileName, std::string baseUrl)
    : CDownloadJob(std::move(fileName), std::move(baseUrl), std::string(BuiltInPackageKey()))
{
}

CDownloadJob::CDownloadJob(std::string fileName, std::string baseUrl, std::string packageKey)
    : m_strFileName(std::move(fileName)), m_strBaseUrl(std::move(baseUrl)),
      m_strPackageKey(std::move(packageKey))
{
}

PackageDownload CDownloadJob::Run()
{
    PackageDownload download;
    download.outcome = Download(download);
    return download;
}

DownloadOutcome CDownloadJob::Download(PackageDownload& download)
{
    std::string url = m_strBaseUrl + m_strFileName;

    // The signature is small: fetched first, a missing one costs the player
    // no wait for the package.
    bool signed_ = !m_strPackageKey.empty();
    std::optional<CPackageKey> key;
    std::string signature;
    if (signed_) {
        if (std::optional<DownloadOutcome> failed = FetchSignature(url + kSignatureSuffix, m_waitHook, download.signature, signature))
            return *failed;
        key = CPackageKey::FromPem(m_strPackageKey);
        if (!key)
            return DownloadOutcome::SignatureInvalid;
    }

    CTransfer transfer(m_waitHook);
    bool opened = transfer.Open(url, ReadLimits{std::nullopt, true});
    download.transfer = transfer.Info();
    if (download.transfer.error == TransferError::TooSlow)
        return DownloadOutcome::TooSlow;
    if (download.transfer.error == TransferError::Stopped)
        return DownloadOutcome::Stopped;
    if (!opened)
        return DownloadOutcome::TransferFailed;
    if (DownloadAnswerFault(download.transfer) != AnswerFault::None)
        return DownloadOutcome::NotPlainAnswer;
    // A signed package proves its bytes, however the body was framed.
    if (!signed_ && !FramedByOneLength(download.transfer.contentLengthHeaders, download.transfer.transferEncoding))
        return DownloadOutcome::NotLengthFramed;

    RemoveStalePartialFiles(m_strFileName);
    CPartialFile file(PartialFileName(m_strFileName));
    if (!file.IsOpen())
        return DownloadOutcome::CannotWrite;
    CSha256 digest;
    if (signed_ && !digest.IsReady())
        return DownloadOutcome::SignatureInvalid;
    std::optional<uint64_t> announced = download.transfer.contentLength;
    bool cannotWrite = false;
    BodyEnd end = transfer.ReadBody(
        [&](const char* data, DWORD size) {
            download.received += size;
            cannotWrite = (signed_ && !digest.Add(data, size)) || !file.Write(data, size);
            if (cannotWrite)
                return false;
            if (m_onProgress)
                m_onProgress(std::string_view(data, size), download.received, announced);
            return true;
        },
        ReadLimits{std::nullopt, true});
    download.transfer = transfer.Info();
    if (end == BodyEnd::Stopped)
        return cannotWrite ? DownloadOutcome::CannotWrite : DownloadOutcome::Stopped;
    if (end == BodyEnd::Failed)
        return DownloadOutcome::Incomplete;
    if (end == BodyEnd::TooSlow)
        return DownloadOutcome::TooSlow;
    // An empty file is never a package; it is what a server that dropped the
    // connection after its status line leaves.
    if (download.received == 0)
        return DownloadOutcome::Empty;
    // A connection that closes early ends the body short of what was announced.
    if (announced && *announced != download.received)
        return DownloadOutcome::SizeMismatch;
    if (signed_) {
        std::optional<Sha256Digest> hash = digest.Finish();
        if (!hash || !key->Verify(*hash, signature))
            return DownloadOutcome::SignatureInvalid;
    }
    // The last moment to stop with the old file as it was.
    if (m_waitHook && !m_waitHook->HandleMessages())
        return DownloadOutcome::Stopped;
    return file.CommitAs(m_strFileName) ? DownloadOutcome::Installed : DownloadOutcome::CannotReplace;
}
