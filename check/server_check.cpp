#include "server_check.h"

#include <chrono>
#include <cwchar>
#include <memory>
#include <vector>

#include "package_signature.h"
#include "temporary_folder.h"
#include "text.h"
#include "update_source.h"
#include "version.h"
#include "version_info.h"

namespace {

// The longest part of the news the report shows; the rest is counted.
constexpr size_t kNewsLinesShown = 40;
// Progress lines are redrawn at most this often; a line per 1 KiB read
// would slow the download down.
constexpr ULONGLONG kProgressIntervalMs = 200;

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

FetchFacts FactsOf(const TransferInfo& info, const std::string& requested)
{
    FetchFacts facts;
    facts.requestedUrl = RedactUrl(requested);
    facts.finalUrl = RedactUrl(info.url.empty() ? requested : info.url);
    facts.status = info.status;
    facts.systemError = info.systemError;
    facts.contentLength = info.contentLength;
    facts.contentLengthHeaders = info.contentLengthHeaders;
    facts.contentLengthMalformed = info.contentLengthMalformed;
    facts.contentEncoding = info.contentEncoding;
    facts.bound = info.bodyEnd == BodyEnd::TimeUp    ? BodyBound::TimeUp
                  : info.bodyEnd == BodyEnd::TooSlow ? BodyBound::TooSlow
                                                     : BodyBound::None;
    facts.bodyBytes = info.bodyBytes;
    facts.bodySeconds = std::chrono::duration<double>(info.bodyTime).count();
    switch (info.error) {
    case TransferError::None: facts.error = FetchError::None; break;
    case TransferError::BadUrl: facts.error = FetchError::BadUrl; break;
    case TransferError::Unreachable: facts.error = FetchError::Unreachable; break;
    case TransferError::Certificate: facts.error = FetchError::Certificate; break;
    case TransferError::InsecureRedirect: facts.error = FetchError::InsecureRedirect; break;
    case TransferError::TooManyRedirects: facts.error = FetchError::TooManyRedirects; break;
    case TransferError::HttpStatus: facts.error = FetchError::HttpStatus; break;
    case TransferError::NoTimeLeft: facts.error = FetchError::NoTimeLeft; break;
    case TransferError::UnreadableHeader: facts.error = FetchError::UnreadableHeader; break;
    case TransferError::TimeUp: facts.error = FetchError::TimeUp; break;
    case TransferError::TooSlow: facts.error = FetchError::TooSlow; break;
    }
    return facts;
}

std::wstring Field(const wchar_t* name, const std::wstring& value)
{
    std::wstring line = L"  ";
    line += name;
    line.append(wcslen(name) < 8 ? 8 - wcslen(name) : 1, L' ');
    return line + value + L"\n";
}

std::wstring Seconds(double seconds)
{
    wchar_t text[32];
    std::swprintf(text, sizeof text / sizeof text[0], L"%.2f s", seconds);
    return text;
}

// The transfer lines of one file's block.
void PrintTransfer(CConsoleOutput& out, const wchar_t* file, const FetchFacts& facts,
                   std::optional<double> seconds)
{
    out.Write(std::wstring(L"\n") + file + L"\n");
    std::wstring url = FromAnsi(facts.finalUrl);
    if (facts.finalUrl != facts.requestedUrl)
        url += L" (redirected from " + FromAnsi(facts.requestedUrl) + L")";
    out.Write(Field(L"URL", url));
    out.Write(Field(L"status", facts.status ? std::to_wstring(facts.status) : L"no HTTP answer"));
    if (facts.contentLength)
        out.Write(Field(L"length", FromAnsi(FormatBytes(*facts.contentLength)) + L" announced"));
    if (seconds)
        out.Write(Field(L"time", Seconds(*seconds)));
}

// The news as the news box shows it: converted from code page 932, up to a
// NUL, which ends a window text.
std::wstring NewsShown(const std::string& news)
{
    std::wstring text = WideFromCp932(news);
    return text.substr(0, text.find(L'\0'));
}

void PrintNews(CConsoleOutput& out, const std::wstring& news)
{
    size_t start = 0;
    size_t lines = 0;
    while (start < news.size() && lines < kNewsLinesShown) {
        size_t end = news.find(L'\n', start);
        std::wstring line = news.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        out.Write(L"    | " + line + L"\n");
        ++lines;
        start = end == std::wstring::npos ? news.size() : end + 1;
    }
    if (start < news.size())
        out.Write(L"    | ... (" + std::to_wstring(news.size() - start) + L" more characters)\n");
}

bool ConvertsStrictly(const std::string& bytes)
{
    return bytes.empty() || MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

// The first bytes of a file in the working folder.
std::string FileHead(const char* name, DWORD size)
{
    HANDLE opened = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return {};
    FileHandle file(opened);
    std::string head(size, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), head.data(), size, &read, nullptr))
        read = 0;
    head.resize(read);
    return head;
}

// The size and SHA-256 of a file, by the platform's CNG, for the publisher to
// compare with sha256sum of the file uploaded.
std::optional<FileSummary> Summarize(const char* path)
{
    HANDLE opened = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return std::nullopt;
    FileHandle file(opened);
    CSha256 digest;
    std::vector<char> buffer(64 * 1024);
    FileSummary summary;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return std::nullopt;
        if (read == 0)
            break;
        if (!digest.Add(buffer.data(), read))
            return std::nullopt;
        summary.size += read;
    }
    std::optional<Sha256Digest> hash = digest.Finish();
    if (!hash)
        return std::nullopt;
    // As sha256sum writes a digest: lower-case hexadecimal.
    const char hex[] = "0123456789abcdef";
    for (unsigned char byte : *hash) {
        summary.sha256 += hex[byte >> 4];
        summary.sha256 += hex[byte & 0xF];
    }
    return summary;
}

PackageOutcome PackageOutcomeOf(DownloadOutcome outcome)
{
    switch (outcome) {
    case DownloadOutcome::Installed: return PackageOutcome::Complete;
    case DownloadOutcome::TransferFailed: return PackageOutcome::TransferFailed;
    case DownloadOutcome::NotPlainAnswer: return PackageOutcome::NotPlainAnswer;
    case DownloadOutcome::NotLengthFramed: return PackageOutcome::NotLengthFramed;
    case DownloadOutcome::Incomplete: return PackageOutcome::Incomplete;
    case DownloadOutcome::Empty: return PackageOutcome::Empty;
    case DownloadOutcome::SizeMismatch: return PackageOutcome::SizeMismatch;
    case DownloadOutcome::TooSlow: return PackageOutcome::TooSlow;
    default: return PackageOutcome::NotWritten;
    }
}

SignatureState SignatureStateOf(DownloadOutcome outcome, const TransferInfo& signature)
{
    if (outcome == DownloadOutcome::TooSlow &&
        (signature.bodyEnd == BodyEnd::TooSlow || signature.error == TransferError::TooSlow))
        return SignatureState::TooSlow;
    switch (outcome) {
    case DownloadOutcome::SignatureMissing: return SignatureState::Missing;
    case DownloadOutcome::SignatureNotPlainAnswer: return SignatureState::NotPlainAnswer;
    case DownloadOutcome::SignatureTooLarge: return SignatureState::TooLarge;
    case DownloadOutcome::SignatureInvalid: return SignatureState::Invalid;
    default: return SignatureState::Verified;
    }
}

// One download of the package into the working folder, as the Update button
// makes it.
DownloadOutcome Download(CDownloadJob& job, CConsoleOutput& out)
{
    ULONGLONG lastShown = 0;
    job.m_onProgress = [&](uint64_t received, std::optional<uint64_t> total) {
        ULONGLONG now = GetTickCount64();
        if (now - lastShown < kProgressIntervalMs && !(total && received == *total))
            return;
        lastShown = now;
        out.Progress(L"  update.exe  " + FromAnsi(FormatProgress(received, total)));
    };
    job.Run();
    out.EndProgress();
    return job.m_outcome;
}

void CheckPackageFiles(const ServerCheckSettings& settings, CConsoleOutput& out, Warnings& warnings)
{
    CTemporaryWorkingFolder folder;
    if (!folder.IsReady()) {
        CheckPackage(PackageFacts{FetchFacts{}, PackageOutcome::NotWritten, 0, {}}, warnings);
        return;
    }
    const std::string url = settings.baseUrl + kUpdatePackage;
    auto start = Clock::now();
    CDownloadJob job(kUpdatePackage, settings.baseUrl, settings.packageKey);
    DownloadOutcome outcome = Download(job, out);
    double seconds = SecondsSince(start);

    SignatureFacts signature;
    if (!settings.packageKey.empty()) {
        signature.fetch = FactsOf(job.m_signatureTransfer, url + kSignatureSuffix);
        signature.state = SignatureStateOf(outcome, job.m_signatureTransfer);
        const TransferInfo& sigTransfer = job.m_signatureTransfer;
        PrintTransfer(out, L"update.exe.sig", signature.fetch,
                      std::chrono::duration<double>(sigTransfer.answerTime + sigTransfer.bodyTime).count());
        out.Write(Field(L"verdict", signature.state == SignatureState::Verified ? L"verifies update.exe"
                                    : signature.state == SignatureState::Invalid
                                        ? L"does not verify update.exe"
                                        : L"not usable"));
        CheckSignature(signature, warnings);
        // The package is examined all the same: a signature problem must not
        // hide one of the package.
        if (signature.state != SignatureState::Verified) {
            job = CDownloadJob(kUpdatePackage, settings.baseUrl, std::string());
            start = Clock::now();
            outcome = Download(job, out);
            seconds = SecondsSince(start);
        }
    }

    PackageFacts package;
    package.fetch = FactsOf(job.m_packageTransfer, url);
    package.outcome = PackageOutcomeOf(outcome);
    package.received = job.m_nReceived;
    package.signed_ = !settings.packageKey.empty();
    if (package.outcome == PackageOutcome::Complete)
        package.head = FileHead(kUpdatePackage, kPackageHeadBytes);
    PrintTransfer(out, L"update.exe", package.fetch, seconds);
    out.Write(Field(L"size", FromAnsi(FormatBytes(package.received)) + L" received"));
    std::optional<FileSummary> served;
    if (package.outcome == PackageOutcome::Complete) {
        served = Summarize(kUpdatePackage);
        out.Write(Field(L"SHA-256", served ? FromAnsi(served->sha256) : L"not computed"));
        out.Write(Field(L"starts", FromAnsi(EscapeBytes(package.head.substr(0, 2)))));
    }
    CheckPackage(package, warnings);
    if (settings.packageCopy) {
        const std::string& path = *settings.packageCopy;
        std::optional<FileSummary> copy = Summarize(path.c_str());
        out.Write(Field(L"yours", FromAnsi(path) + (copy ? L", " + FromAnsi(FormatBytes(copy->size)) +
                                                               L", SHA-256 " + FromAnsi(copy->sha256)
                                                         : std::wstring(L": cannot be read"))));
        if (copy && served)
            CheckPackageCopy(*served, path, *copy, warnings);
    }
    CheckPackageLayout(package, warnings);
}

} // namespace

std::string UncheckedFiles(const ServerCheckSettings& settings)
{
    if (settings.package)
        return {};
    return std::string(settings.packageKey.empty() ? "update.exe was" : "update.exe and update.exe.sig were") +
           " not checked (--no-package)";
}

Warnings CheckServer(const ServerCheckSettings& settings, CConsoleOutput& out)
{
    Warnings warnings;
    CUpdateSource source(settings.baseUrl);
    out.Write(L"Update directory  " + FromAnsi(RedactUrl(source.m_strBaseUrl)) + L"\n");
    out.Write(L"Package key       " + FromAnsi(settings.keyDescription) + L"\n");
    out.Write(L"Game              " + FromAnsi(settings.gameDescription) + L"\n");
    if (settings.newGame)
        out.Write(L"New game          " + FromAnsi(settings.newGameDescription) + L"\n");

    const std::string versionUrl = source.m_strBaseUrl + source.m_strVersionFile;
    CVersionInfo versionInfo;
    CVersionInfo::Fetch versionFetch;
    auto start = Clock::now();
    // As the updater's dialog fetches them: in one shared time.
    const auto fetchesEnd = TransferClock::now() + kStartupFetchTime;
    versionInfo.FetchLatest(versionUrl, &versionFetch, fetchesEnd);
    VersionFacts version{FactsOf(versionFetch.transfer, versionUrl), versionFetch.read, versionFetch.body};
    PrintTransfer(out, L"version.dat", version.fetch, SecondsSince(start));
    if (version.read) {
        out.Write(Field(L"size", FromAnsi(FormatBytes(version.body.size())) + L" in the first read"));
        out.Write(Field(L"body", L"\"" + FromAnsi(EscapeBytes(version.body)) + L"\""));
    }
    CheckVersionFile(version, warnings);
    CheckVersions(versionInfo.m_nRemote, settings.game, warnings);
    if (settings.newGame)
        CheckNewGame(versionInfo.m_nRemote, *settings.newGame, warnings);

    TransferInfo newsTransfer;
    start = Clock::now();
    NewsFacts news;
    news.news = FetchNews(source, &newsTransfer, fetchesEnd);
    news.fetch = FactsOf(newsTransfer, source.m_strBaseUrl + "text.txt");
    news.definedInCp932 = ConvertsStrictly(news.news);
    news.cap = kMaxNewsBytes;
    PrintTransfer(out, L"text.txt", news.fetch, SecondsSince(start));
    if (news.fetch.error == FetchError::None)
        out.Write(Field(L"size", FromAnsi(FormatBytes(news.news.size())) + L" read"));
    CheckNews(news, warnings);

    if (settings.package)
        CheckPackageFiles(settings, out, warnings);
    else
        out.Write(L"\nupdate.exe\n  not downloaded (--no-package)\n");

    int latest = versionInfo.m_nRemote;
    int current = settings.game.value_or(0);
    out.Write(L"\nWhat a player sees\n");
    out.Write(L"  " + WideFromCp932(FormatLatestLine(latest)) + L"\n");
    out.Write(L"  " + WideFromCp932(FormatCurrentLine(current)) + L"\n");
    out.Write(std::wstring(L"  Update  ") + (IsUpdateAvailable(current, latest) ? L"enabled" : L"disabled") +
              L"\n");
    out.Write(L"  news\n");
    PrintNews(out, NewsShown(news.news));
    if (settings.newGame) {
        out.Write(L"\nWhat a player sees after the update, with the new game\n");
        out.Write(L"  " + WideFromCp932(FormatCurrentLine(*settings.newGame)) + L"\n");
        out.Write(std::wstring(L"  Update  ") +
                  (IsUpdateAvailable(*settings.newGame, latest) ? L"enabled" : L"disabled") + L"\n");
    }
    return warnings;
}
