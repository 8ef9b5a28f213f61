// Runs the server checker, updater_check.exe from the test program's folder,
// as a publisher would from a command prompt whose output goes to a file.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

struct CheckerRun {
    DWORD exitCode = 0;
    std::wstring output; // standard output, read as the UTF-8 it must be
    std::wstring errors; // standard error, likewise
};

// Runs the checker with arguments in workingFolder, with TMP and TEMP set to
// tempFolder; its output goes to files in outputFolder. Nothing when it could
// not be started or did not end within timeoutMs.
std::optional<CheckerRun> RunChecker(const std::string& arguments, const std::string& workingFolder,
                                     const std::string& tempFolder, const std::string& outputFolder,
                                     DWORD timeoutMs = 120000);
