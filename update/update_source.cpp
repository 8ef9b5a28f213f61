#include "update_source.h"

#include <utility>

#include "build_config.h"
#include "length_framing.h"
#include "package_signature.h"
#include "partial_file.h"
#include "startup_fetch.h"

namespace {

// The body of a signature file into signature, or the outcome that stops the
// download: the file cannot be fetched, is not a plain answer, or does not
// arrive whole within the size of any signature.
std::optional<DownloadOutcome> FetchSignature(const std::string& url, TransferInfo& info, std::string& signature)
{
    CTransfer transfer;
    bool opened = transfer.Open(url, ReadLimits{std::nullopt, true});
    info = transfer.Info();
    if (info.error == TransferError::TooSlow)
        return DownloadOutcome::TooSlow;
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
    StartupBody fetched = FetchStartupFile(source.m_strBaseUrl + kNewsFile, kMaxNewsBytes, until);
    return NewsFetch{std::move(fetched.body), std::move(fetched.transfer)};
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
        if (std::optional<DownloadOutcome> failed = FetchSignature(url + kSignatureSuffix, download.signature, signature))
            return *failed;
        key = CPackageKey::FromPem(m_strPackageKey);
        if (!key)
            return DownloadOutcome::SignatureInvalid;
    }

    CTransfer transfer;
    bool opened = transfer.Open(url, ReadLimits{std::nullopt, true});
    download.transfer = transfer.Info();
    if (download.transfer.error == TransferError::TooSlow)
        return DownloadOutcome::TooSlow;
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
    BodyEnd end = transfer.ReadBody(
        [&](const char* data, DWORD size) {
            download.received += size;
            if (signed_ && !digest.Add(data, size))
                return false;
            if (!file.Write(data, size))
                return false;
            if (m_onProgress)
                m_onProgress(std::string_view(data, size), download.received, announced);
            return true;
        },
        ReadLimits{std::nullopt, true});
    download.transfer = transfer.Info();
    if (end == BodyEnd::Stopped)
        return DownloadOutcome::CannotWrite;
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
    return file.CommitAs(m_strFileName) ? DownloadOutcome::Installed : DownloadOutcome::CannotReplace;
}
