// One measured step per process, so that each peak working set belongs to
// that step alone. Prints one line of key=value pairs; exits non-zero when
// the step failed.
//
//   bench_download updater BASE_URL     CDownloadJob("update.exe", BASE_URL, "").Run():
//                                       no signature
//   bench_download signed BASE_URL KEY  the same with the PEM public key in the
//                                       file KEY: fetches update.exe.sig too,
//                                       hashes while streaming, verifies
//   bench_download dialog BASE_URL      the same as the dialog runs it: its waits
//                                       handle a window's messages, and a
//                                       progress line goes into an edit control
//                                       a few times a second
//   bench_download bare BASE_URL        the same file through a bare WinINet loop
//                                       with the updater's request settings and
//                                       reads (what has arrived, up to 1024 bytes)
//   bench_download steps BASE_URL       what the dialog does before it shows:
//                                       version file, version resource, news
//   bench_download hash MIB CHUNK       CSha256 over MIB MiB in memory, added
//                                       CHUNK bytes at a time: what hashing the
//                                       package costs, without the transfer
//
// The working folder receives update.exe (and holds harun_tesli.exe for steps).
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "download_wait.h"
#include "package_signature.h"
#include "text.h"
#include "transfer.h"
#include "update_source.h"
#include "version_info.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

unsigned long long PeakWorkingSet()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PeakWorkingSetSize;
}

unsigned long long FileSize(const char* name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The least a program can do to save a download: one request, reads of up
// to kChunk bytes, each written as it arrives. Like the updater it asks first
// how much has arrived and reads that much. Same agent and cache settings as
// the updater, no checks beyond the calls' own results.
bool BareDownload(const std::string& url, const char* fileName)
{
    constexpr DWORD kChunk = 1024;
    HINTERNET internet = InternetOpenA("update_harun_tesly", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!internet)
        return false;
    HINTERNET request = InternetOpenUrlA(internet, url.c_str(), nullptr, 0, kTransferCacheFlags, 0);
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = request && file != INVALID_HANDLE_VALUE;
    std::vector<char> buffer(kChunk);
    DWORD available = 0;
    while (ok) {
        if (available == 0 && !InternetQueryDataAvailable(request, &available, 0, 0)) {
            ok = false;
            break;
        }
        if (available == 0)
            break;
        DWORD read = 0;
        if (!InternetReadFile(request, buffer.data(), std::min(available, kChunk), &read)) {
            ok = false;
            break;
        }
        if (read == 0)
            break;
        available -= std::min(available, read);
        DWORD written = 0;
        ok = WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (request)
        InternetCloseHandle(request);
    InternetCloseHandle(internet);
    return ok;
}

// The dialog's window: made before the clock starts, as the updater's window
// is shown before its download (the first window of a process sets up the
// window system, which takes longer than many downloads).
struct BenchWindow {
    BenchWindow()
        : window(CreateWindowExW(0, L"#32770", L"bench_download", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 200,
                                 nullptr, nullptr, nullptr, nullptr)),
          news(CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 8, 8, 380, 150, window, nullptr,
                               nullptr, nullptr))
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    ~BenchWindow() { DestroyWindow(window); }
    HWND window;
    HWND news;
};

// As the dialog's Update procedure runs the download.
bool DialogDownload(const BenchWindow& dialog, const std::string& baseUrl)
{
    if (!dialog.window || !dialog.news)
        return false;
    CDownloadWait wait(dialog.window);
    CDownloadJob job(kUpdatePackage, baseUrl, "");
    job.m_waitHook = &wait;
    job.m_onProgress = [&](std::string_view, uint64_t received, std::optional<uint64_t> total) {
        if (wait.ProgressDue())
            SetWindowTextW(dialog.news, WideFromCp932(DownloadingNews(received, total)).c_str());
    };
    return job.Run().outcome == DownloadOutcome::Installed;
}

int Download(const char* mode, const std::string& baseUrl, const std::string& packageKey = {})
{
    DeleteFileA(kUpdatePackage);
    std::optional<BenchWindow> dialog;
    if (std::strcmp(mode, "dialog") == 0)
        dialog.emplace();
    double start = Now();
    bool ok;
    if (std::strcmp(mode, "updater") == 0 || std::strcmp(mode, "signed") == 0)
        ok = CDownloadJob(kUpdatePackage, baseUrl, packageKey).Run().outcome == DownloadOutcome::Installed;
    else if (std::strcmp(mode, "dialog") == 0)
        ok = DialogDownload(*dialog, baseUrl);
    else
        ok = BareDownload(baseUrl + kUpdatePackage, kUpdatePackage);
    double seconds = Now() - start;
    std::printf("ok=%d seconds=%.6f bytes=%llu peak_ws=%llu\n", ok ? 1 : 0, seconds, FileSize(kUpdatePackage),
                PeakWorkingSet());
    return ok ? 0 : 1;
}

// The dialog's OnInitDialog in the same order, each step timed; the first
// transfer of a process pays for setting WinINet up.
int Steps(const std::string& baseUrl)
{
    CUpdateSource source(baseUrl);
    CVersionInfo info;
    double t0 = Now();
    info.FetchLatest(source.m_strBaseUrl + source.m_strVersionFile);
    double t1 = Now();
    info.ReadCurrent();
    double t2 = Now();
    std::string news = FetchNews(source).news.value_or(kNoNews);
    double t3 = Now();
    bool ok = info.m_nRemote > 0 && info.m_nLocal > 0 && !news.empty();
    std::printf("ok=%d fetch_version_ms=%.3f read_resource_ms=%.3f fetch_news_ms=%.3f total_ms=%.3f "
                "latest=%d current=%d news_bytes=%zu\n",
                ok ? 1 : 0, (t1 - t0) * 1e3, (t2 - t1) * 1e3, (t3 - t2) * 1e3, (t3 - t0) * 1e3,
                info.m_nRemote, info.m_nLocal, news.size());
    return ok ? 0 : 1;
}

int Hash(long mebibytes, long chunk)
{
    std::vector<char> data(static_cast<size_t>(chunk), '\x5a');
    long long total = mebibytes * 1024LL * 1024LL;
    double start = Now();
    CSha256 digest;
    bool ok = digest.IsReady();
    for (long long done = 0; ok && done < total; done += chunk)
        ok = digest.Add(data.data(), static_cast<size_t>(std::min<long long>(chunk, total - done)));
    ok = ok && digest.Finish().has_value();
    double seconds = Now() - start;
    std::printf("ok=%d seconds=%.6f bytes=%lld\n", ok ? 1 : 0, seconds, total);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && (std::strcmp(argv[1], "updater") == 0 || std::strcmp(argv[1], "dialog") == 0 ||
                      std::strcmp(argv[1], "bare") == 0))
        return Download(argv[1], argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "signed") == 0) {
        std::ifstream file(argv[3], std::ios::binary);
        std::string key(std::istreambuf_iterator<char>(file), {});
        if (file && !key.empty())
            return Download(argv[1], argv[2], key);
        std::fprintf(stderr, "bench_download: cannot read the key %s\n", argv[3]);
        return 2;
    }
    if (argc == 4 && std::strcmp(argv[1], "hash") == 0) {
        long mebibytes = std::strtol(argv[2], nullptr, 10), chunk = std::strtol(argv[3], nullptr, 10);
        if (mebibytes >= 1 && mebibytes <= 1024 && chunk >= 1 && chunk <= 16 * 1024 * 1024)
            return Hash(mebibytes, chunk);
    }
    if (argc == 3 && std::strcmp(argv[1], "steps") == 0)
        return Steps(argv[2]);
    std::fprintf(stderr, "usage: bench_download updater|dialog|bare|steps BASE_URL\n"
                         "       bench_download signed BASE_URL KEY_PEM_FILE\n"
                         "       bench_download hash MIB CHUNK\n");
    return 2;
}
