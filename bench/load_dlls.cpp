// What loading each DLL costs a process that has loaded nothing else of the
// updater's: loads the named DLLs in the order given, each timed with
// QueryPerformanceCounter, and prints "ok=1 NAME_ms=T ..." with the DLLs that
// each one brought along in NAME_brought=N. A DLL already loaded (by an
// earlier one) costs next to nothing, which is the point: the order says what
// is left to pay for once the DLLs before it are in.
//
//   bench_load_dlls NAME [NAME ...]     names without ".dll"
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

namespace {

double Now()
{
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Modules of this process, counted outside the timed calls.
int ModuleCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
        ++count;
    CloseHandle(snapshot);
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_load_dlls NAME [NAME ...]\n");
        return 2;
    }
    std::string line = "ok=1";
    for (int i = 1; i < argc; ++i) {
        int before = ModuleCount();
        double start = Now();
        HMODULE module = LoadLibraryA((std::string(argv[i]) + ".dll").c_str());
        double ms = (Now() - start) * 1e3;
        if (!module) {
            std::fprintf(stderr, "bench_load_dlls: %s.dll not loaded, error %lu\n", argv[i], GetLastError());
            return 1;
        }
        char figures[128];
        std::snprintf(figures, sizeof figures, " %s_ms=%.3f %s_brought=%d", argv[i], ms, argv[i],
                      ModuleCount() - before);
        line += figures;
    }
    std::printf("%s\n", line.c_str());
    return 0;
}
