#include "server_check.h"

#include <chrono>
#include <cwchar>
#include <memory>
#include <string_view>
#include <vector>

#include "check_args.h"
#include "download_progress.h"
#include "news_rules.h"
#include "package_rules.h"
#include "package_signature.h"
#include "signature_rules.h"
#include "temporary_folder.h"
#include "text.h"
#include "update_source.h"
#include "version.h"
#include "version_info.h"
#include "version_rules.h"

namespace {

// The longest part of the news the report shows; the rest is counted.
constexpr size_t kNewsLinesShown = 40;
// Progress lines are redrawn at most this often; a line per 1 KiB read
// would slow the download down.
constexpr ULONGLONG kProgressIntervalMs = 200;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
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
void PrintTransfer(CConsoleOutput& out, const std::string& file, const TransferInfo& facts,
                   std::optional<double> seconds)
{
    out.Write(L"\n" + FromAnsi(file) + L"\n");
    std::wstring url = FromAnsi(RedactUrl(facts.url));
    if (facts.url != facts.requestedUrl)
        url += L" (redirected from " + FromAnsi(RedactUrl(facts.requestedUrl)) + L")";
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

// As sha256sum writes a digest: lower-case hexadecimal.
std::string HexDigits(const Sha256Digest& digest)
{
    const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += hex[byte >> 4];
        text += hex[byte & 0xF];
    }
    return text;
}

// The size and SHA-256 of the publisher's own copy of the package, by the
// platform's CNG, as the served package's.
std::optional<FileSummary> Summarize(const std::wstring& path)
{
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::unique_ptr<void, decltype(&CloseHandle)> file(opened, &CloseHandle);
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
    summary.sha256 = HexDigits(*hash);
    return summary;
}

// One download of the package into the working folder, as the Update button
// makes it, keeping the first bytes of the package in head and the SHA-256 of
// all it received in digest (by the platform's CNG), for the publisher to
// compare with sha256sum of the file uploaded.
PackageDownload Download(const ServerCheckSettings& settings, const std::string& packageKey, CConsoleOutput& out,
                         std::string& head, std::optional<Sha256Digest>& digest)
{
    CDownloadJob job(kUpdatePackage, settings.baseUrl, packageKey);
    ULONGLONG lastShown = 0;
    head.clear();
    CSha256 sha256;
    bool digested = sha256.IsReady();
    job.m_onProgress = [&](std::string_view piece, uint64_t received, std::optional<uint64_t> total) {
        head.append(piece.substr(0, kPackageHeadBytes - head.size()));
        digested = digested && sha256.Add(piece.data(), piece.size());
        ULONGLONG now = GetTickCount64();
        if (now - lastShown < kProgressIntervalMs && !(total && received == *total))
            return;
        lastShown = now;
        out.Progress(L"  update.exe  " + FromAnsi(FormatDownloadProgress(received, total)));
    };
    PackageDownload download = job.Run();
    out.EndProgress();
    digest = digested ? sha256.Finish() : std::nullopt;
    return download;
}

void CheckPackageFiles(const ServerCheckSettings& settings, CConsoleOutput& out, Warnings& warnings)
{
    PackageFacts package;
    package.signed_ = !settings.packageKey.empty();
    CTemporaryWorkingFolder folder(L"updater_check_");
    if (!folder.IsReady()) {
        package.download.outcome = DownloadOutcome::CannotWrite;
        CheckPackage(package, warnings);
        return;
    }
    std::optional<Sha256Digest> digest;
    auto start = Clock::now();
    package.download = Download(settings, settings.packageKey, out, package.head, digest);
    double seconds = SecondsSince(start);

    if (package.signed_) {
        const PackageDownload& signed_ = package.download;
        PrintTransfer(out, std::string(kUpdatePackage) + kSignatureSuffix, signed_.signature,
                      std::chrono::duration<double>(signed_.signature.answerTime + signed_.signature.bodyTime)
                          .count());
        out.Write(Field(L"verdict", FromAnsi(SignatureVerdict(signed_))));
        CheckSignature(signed_, warnings);
        // A signature problem that stopped the download before the package
        // was requested must not hide one of the package: it is downloaded
        // once, unsigned.
        if (signed_.transfer.requestedUrl.empty()) {
            start = Clock::now();
            package.download = Download(settings, std::string(), out, package.head, digest);
            seconds = SecondsSince(start);
        }
    }

    if (!ArrivedWhole(package.download))
        package.head.clear();
    PrintTransfer(out, kUpdatePackage, package.download.transfer, seconds);
    out.Write(Field(L"size", FromAnsi(FormatBytes(package.download.received)) + L" received"));
    std::optional<FileSummary> served;
    if (ArrivedWhole(package.download)) {
        if (digest)
            served = FileSummary{package.download.received, HexDigits(*digest)};
        out.Write(Field(L"SHA-256", served ? FromAnsi(served->sha256) : L"not computed"));
        out.Write(Field(L"starts", FromAnsi(EscapeBytes(package.head.substr(0, 2)))));
    }
    CheckPackage(package, warnings);
    if (settings.packageCopy) {
        const std::wstring& path = *settings.packageCopy;
        std::optional<FileSummary> copy = Summarize(path);
        out.Write(Field(L"yours", path + (copy ? L", " + FromAnsi(FormatBytes(copy->size)) + L", SHA-256 " +
                                                     FromAnsi(copy->sha256)
                                               : std::wstring(L": cannot be read"))));
        if (copy && served)
            CheckPackageCopy(*served, Ascii(path), *copy, warnings);
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
    out.Write(L"Package key       " + settings.keyDescription + L"\n");
    out.Write(L"Game              " + settings.gameDescription + L"\n");
    if (settings.newGame)
        out.Write(L"New game          " + settings.newGameDescription + L"\n");

    CVersionInfo versionInfo;
    auto start = Clock::now();
    // As the updater's dialog fetches them: in one shared time.
    const auto fetchesEnd = TransferClock::now() + kStartupFetchTime;
    const VersionFileFetch version =
        versionInfo.FetchLatest(source.m_strBaseUrl + source.m_strVersionFile, fetchesEnd);
    PrintTransfer(out, kVersionFile, version.transfer, SecondsSince(start));
    if (version.body) {
        out.Write(Field(L"size", FromAnsi(FormatBytes(version.body->size())) + L" in the first read"));
        out.Write(Field(L"body", L"\"" + FromAnsi(EscapeBytes(*version.body)) + L"\""));
    }
    CheckVersionFile(version, warnings);
    CheckVersions(versionInfo.m_nRemote, settings.game, warnings);
    if (settings.newGame)
        CheckNewGame(versionInfo.m_nRemote, *settings.newGame, warnings);

    start = Clock::now();
    NewsFacts news;
    news.fetch = FetchNews(source, fetchesEnd);
    news.definedInCp932 = ConvertsStrictly(news.fetch.news.value_or(std::string()));
    news.cap = kMaxNewsBytes;
    PrintTransfer(out, kNewsFile, news.fetch.transfer, SecondsSince(start));
    if (news.fetch.news)
        out.Write(Field(L"size", FromAnsi(FormatBytes(news.fetch.news->size())) + L" read"));
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
    PrintNews(out, NewsShown(news.fetch.news.value_or(kNoNews)));
    if (settings.newGame) {
        out.Write(L"\nWhat a player sees after the update, with the new game\n");
        out.Write(L"  " + WideFromCp932(FormatCurrentLine(*settings.newGame)) + L"\n");
        out.Write(std::wstring(L"  Update  ") +
                  (IsUpdateAvailable(*settings.newGame, latest) ? L"enabled" : L"disabled") + L"\n");
    }
    return warnings;
}
