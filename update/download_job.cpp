#include <memory>
#include <utility>

#include "build_config.h"
#include "length_framing.h"
#include "package_signature.h"
#include "partial_file.h"
#include "resume.h"
#include "update_source.h"

namespace {

// The outcome of a transfer that the download's floor or the player ended
// before its answer came, if one did.
std::optional<DownloadOutcome> EndedBeforeAnswer(const TransferInfo& info)
{
    if (info.error == TransferError::TooSlow)
        return DownloadOutcome::TooSlow;
    if (info.error == TransferError::Stopped)
        return DownloadOutcome::Stopped;
    return std::nullopt;
}

// The body of a signature file into signature, or the outcome that stops the
// download: the file cannot be fetched, is not a plain answer, or does not
// arrive whole within the size of any signature.
std::optional<DownloadOutcome> FetchSignature(const std::string& url, CWaitHook* hook, const ReadLimits& limits,
                                             TransferInfo& info, std::string& signature)
{
    CTransfer transfer(hook);
    bool opened = transfer.Open(url, limits);
    info = transfer.Info();
    if (std::optional<DownloadOutcome> ended = EndedBeforeAnswer(info))
        return ended;
    if (!opened)
        return DownloadOutcome::SignatureMissing;
    if (DownloadAnswerFault(info) != AnswerFault::None)
        return DownloadOutcome::SignatureNotPlainAnswer;
    BodyEnd end = transfer.ReadBody(
        [&signature](const char* data, DWORD size) {
            signature.append(data, size);
            return signature.size() <= kMaxSignatureBytes;
        },
        limits);
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

// Why the package cannot be taken from a whole answer, if it cannot: the
// first answer, or a 200 to a request for the rest.
std::optional<DownloadOutcome> WholeAnswerFault(const TransferInfo& info, bool opened, bool signed_)
{
    if (std::optional<DownloadOutcome> ended = EndedBeforeAnswer(info))
        return ended;
    if (!opened)
        return DownloadOutcome::TransferFailed;
    if (DownloadAnswerFault(info) != AnswerFault::None)
        return DownloadOutcome::NotPlainAnswer;
    // A signed package proves its bytes, however the body was framed.
    if (!signed_ && !FramedByOneLength(info.contentLengthHeaders, info.transferEncoding))
        return DownloadOutcome::NotLengthFramed;
    return std::nullopt;
}

} // namespace

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
    const std::string url = m_strBaseUrl + m_strFileName;
    // One progress floor, one redirect count and one retry for the whole
    // download, however many requests it takes.
    TransferBounds bounds;
    const ReadLimits limits{std::nullopt, &bounds};

    // The signature is small: fetched first, a missing one costs the player
    // no wait for the package.
    const bool signed_ = !m_strPackageKey.empty();
    std::optional<CPackageKey> key;
    std::string signature;
    if (signed_) {
        if (std::optional<DownloadOutcome> failed =
                FetchSignature(url + kSignatureSuffix, m_waitHook, limits, download.signature, signature))
            return *failed;
        key = CPackageKey::FromPem(m_strPackageKey);
        if (!key)
            return DownloadOutcome::SignatureInvalid;
    }

    // The first request is the plain GET of every transfer; only a request
    // that goes on after a drop asks for a range.
    auto transfer = std::make_unique<CTransfer>(m_waitHook);
    bool opened = transfer->Open(url, limits);
    download.transfer = transfer->Info();
    if (std::optional<DownloadOutcome> fault = WholeAnswerFault(download.transfer, opened, signed_))
        return *fault;

    RemoveStalePartialFiles(m_strFileName);
    CPartialFile file(PartialFileName(m_strFileName));
    if (!file.IsOpen())
        return DownloadOutcome::CannotWrite;
    CSha256 digest;
    if (signed_ && !digest.IsReady())
        return DownloadOutcome::SignatureInvalid;
    std::optional<uint64_t> total = download.transfer.contentLength;
    std::optional<std::string> validator = ResumeValidator(download.transfer);
    bool cannotWrite = false;
    auto consume = [&](const char* data, DWORD size) {
        download.received += size;
        cannotWrite = (signed_ && !digest.Add(data, size)) || !file.Write(data, size);
        if (cannotWrite)
            return false;
        if (m_onProgress)
            m_onProgress(std::string_view(data, size), download.received, total);
        return true;
    };
    BodyEnd end;
    for (;;) {
        const uint64_t before = download.received;
        end = transfer->ReadBody(consume, limits);
        // A connection closed early ends the body short of its length; a
        // reset or a receive timeout fails the read.
        const bool dropped = end == BodyEnd::Failed || (end == BodyEnd::Complete && total && download.received < *total);
        if (!dropped || !validator || download.resumes == kMaxResumes || download.received == before)
            break;
        ++download.resumes;
        transfer = std::make_unique<CTransfer>(m_waitHook);
        opened = transfer->Open(url, limits, ResumeHeaders(download.received, *validator));
        download.lastRange = transfer->Info();
        if (std::optional<DownloadOutcome> ended = EndedBeforeAnswer(download.lastRange))
            return *ended;
        if (!opened && download.lastRange.status == 0)
            return DownloadOutcome::Incomplete;
        switch (opened ? JudgeRangeAnswer(download.lastRange, download.received, *total, download.transfer.etags)
                       : RangeAnswer::Wrong) {
        case RangeAnswer::Rest:
            break;
        case RangeAnswer::Whole:
            // The file changed, or the server ignores ranges: the new answer
            // is a new start, under its own length and validator.
            download.transfer = download.lastRange;
            if (std::optional<DownloadOutcome> fault = WholeAnswerFault(download.transfer, opened, signed_))
                return *fault;
            if (!file.Truncate())
                return DownloadOutcome::CannotWrite;
            digest = CSha256();
            if (signed_ && !digest.IsReady())
                return DownloadOutcome::SignatureInvalid;
            download.received = 0;
            total = download.transfer.contentLength;
            validator = ResumeValidator(download.transfer);
            break;
        case RangeAnswer::Wrong:
            return DownloadOutcome::ResumeRefused;
        }
    }
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
    if (total && *total != download.received)
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
