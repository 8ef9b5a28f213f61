// Start-up time of dialog programs: from CreateProcess to a visible top-level
// window of that process with the expected caption.
//
//   bench_startup RUNS PROGRAM CAPTION [PROGRAM CAPTION ...]
//
// The programs take turns, so that load from elsewhere on the machine falls on
// all of them alike; one unmeasured round first warms the caches. Each
// measured start prints "NAME run=I ms=T". Programs start in the working
// folder; each is closed, and has ended, before the next one starts.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kShowTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 10000;

struct Search {
    DWORD processId;
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window))
        return TRUE;
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    if (*search->caption != text)
        return TRUE;
    search->found = window;
    return FALSE;
}

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Milliseconds until the window shows, or a negative value when it does not,
// with why in failure.
double TimeToVisible(const std::wstring& program, const std::wstring& caption, std::string& failure)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + program + L"\"";
    double start = Now();
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        failure = "CreateProcess failed, error " + std::to_string(GetLastError());
        return -1;
    }
    Search search = {process.dwProcessId, &caption, nullptr};
    double shown = -1;
    for (;;) {
        EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&search));
        double now = Now();
        if (search.found) {
            shown = (now - start) * 1e3;
            break;
        }
        if ((now - start) * 1e3 > kShowTimeoutMs) {
            failure = "no such window within the time limit";
            break;
        }
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            failure = "the program ended without showing the window";
            break;
        }
        Sleep(1);
    }
    if (search.found)
        PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, kExitTimeoutMs);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return shown;
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring BaseName(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4 || (argc - 2) % 2 != 0) {
        std::fprintf(stderr, "usage: bench_startup RUNS PROGRAM CAPTION [PROGRAM CAPTION ...]\n");
        return 2;
    }
    int runs = _wtoi(argv[1]);
    if (runs < 1 || runs > 100) {
        std::fprintf(stderr, "bench_startup: RUNS must be 1 to 100\n");
        return 2;
    }
    std::vector<std::pair<std::wstring, std::wstring>> programs;
    for (int i = 2; i + 1 < argc; i += 2)
        programs.emplace_back(argv[i], argv[i + 1]);

    int failures = 0;
    for (int run = 0; run <= runs; ++run) {
        for (const auto& [program, caption] : programs) {
            std::string failure;
            double ms = TimeToVisible(program, caption, failure);
            if (ms < 0) {
                std::fprintf(stderr, "bench_startup: %s, window \"%s\": %s\n", Narrow(program).c_str(),
                             Narrow(caption).c_str(), failure.c_str());
                ++failures;
                continue;
            }
            if (run > 0)
                std::printf("%s run=%d ms=%.3f\n", Narrow(BaseName(program)).c_str(), run, ms);
            std::fflush(stdout);
            Sleep(200);
        }
    }
    LocalFree(argv);
    return failures ? 1 : 0;
}
