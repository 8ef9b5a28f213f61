// updater_check: shows a publisher what the updater makes of an update
// server, before players meet it.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "build_config.h"
#include "check_args.h"
#include "console_output.h"
#include "package_signature.h"
#include "server_check.h"
#include "version_info.h"

namespace {

constexpr int kUsageError = 2;

int UsageError(CConsoleOutput& err, const std::wstring& error)
{
    err.Write(L"updater_check: " + error + L"\n" + FromAnsi(kCheckUsage) + L"\n");
    return kUsageError;
}

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, HandleCloser>;

// Key files are small; anything near the limit is not a key.
constexpr DWORD kMaxKeyFileBytes = 64 * 1024;

bool ReadKeyFile(const std::wstring& path, std::string& text)
{
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    FileHandle file(opened);
    text.assign(kMaxKeyFileBytes, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), text.data(), kMaxKeyFileBytes, &read, nullptr))
        return false;
    text.resize(read);
    return true;
}

bool IsFile(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The warnings, and a closing line that names what was not checked.
void PrintWarnings(CConsoleOutput& out, const Warnings& warnings, const std::string& unchecked)
{
    size_t problems = 0;
    for (const Warning& warning : warnings) {
        bool problem = warning.severity == Severity::Problem;
        problems += problem;
        out.Write(FromAnsi(std::string("\n") + (problem ? "PROBLEM " : "NOTICE  ") + warning.file + ": " +
                           warning.cause + "\n        fix: " + warning.fix + "\n"));
    }
    if (problems) {
        out.Write(FromAnsi("\nFAILED: " + std::to_string(problems) + " problem(s) that players would meet" +
                           (unchecked.empty() ? "" : "; " + unchecked) + "\n"));
    } else if (!unchecked.empty()) {
        out.Write(FromAnsi("\nOK so far: nothing wrong in what was checked, but " + unchecked + "\n"));
    } else {
        out.Write(L"\nOK: players are served as intended\n");
    }
}

// What the check left out: the files it did not fetch, and each comparison
// it could not make for want of the publisher's own files. Only a check that
// makes all of them may say that players are served as intended: without
// --new-game a version.dat far above the package's game looks good.
std::string Unchecked(const CheckOptions& options, const ServerCheckSettings& settings)
{
    std::vector<std::string> comparisons;
    if (!options.game)
        comparisons.push_back("version.dat with the game players have (--game)");
    if (!options.newGame)
        comparisons.push_back("version.dat with the game update.exe installs (--new-game)");
    if (options.package && !options.packageCopy)
        comparisons.push_back("update.exe as served with your copy (--package)");
    std::string text = UncheckedFiles(settings);
    for (size_t i = 0; i < comparisons.size(); ++i)
        text += (i ? ", " : text.empty() ? "not compared: " : "; not compared: ") + comparisons[i];
    return text;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    CConsoleOutput out(STD_OUTPUT_HANDLE);
    CConsoleOutput err(STD_ERROR_HANDLE);
    ParsedArguments parsed = ParseCheckArguments(std::vector<std::wstring>(argv + (argc > 0), argv + argc));
    if (!parsed.options)
        return UsageError(err, FromAnsi(parsed.error));
    const CheckOptions& options = *parsed.options;
    if (options.help) {
        out.Write(FromAnsi(std::string(kCheckUsage) + "\n"));
        return 0;
    }

    ServerCheckSettings settings;
    settings.baseUrl = options.url.value_or(BuiltInBaseUrl());
    settings.package = options.package;
    if (options.keyFile) {
        if (!ReadKeyFile(*options.keyFile, settings.packageKey))
            return UsageError(err, L"cannot read the key file " + *options.keyFile);
        if (!CPackageKey::FromPem(settings.packageKey))
            return UsageError(err, *options.keyFile + L" is not a PEM public key the updater takes "
                                   L"(RSA of 2048 to 4096 bits, or ECDSA P-256)");
        settings.keyDescription = *options.keyFile;
    } else {
        settings.packageKey = BuiltInPackageKey();
        settings.keyDescription = settings.packageKey.empty() ? L"none: packages are not signed" : L"built in";
    }
    for (const std::optional<std::wstring>* path : {&options.game, &options.newGame}) {
        if (*path && !IsFile(**path))
            return UsageError(err, L"no such game file " + **path);
    }
    if (options.packageCopy && !IsFile(*options.packageCopy))
        return UsageError(err, L"no such package file " + *options.packageCopy);
    settings.packageCopy = options.packageCopy;
    if (options.game) {
        settings.game = ReadFileVersion(*options.game);
        settings.gameDescription = *options.game;
    } else {
        settings.gameDescription = L"none given: a game without a version, 0.00, is assumed";
    }
    if (options.newGame) {
        settings.newGame = ReadFileVersion(*options.newGame);
        settings.newGameDescription = *options.newGame;
    }

    Warnings warnings = CheckServer(settings, out);
    PrintWarnings(out, warnings, Unchecked(options, settings));
    return ExitStatus(warnings);
}
