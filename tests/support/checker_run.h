// Runs the server checker as a publisher would from a command prompt whose
// output goes to a file: updater_check.exe from the test program's folder,
// or the given build of it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "test_files.h"

struct CheckerRun {
    DWORD exitCode = 0;
    std::wstring output; // standard output, read as the UTF-8 it must be
    std::wstring errors; // standard error, likewise
};

// Runs program (by default the test build of the checker) with arguments in
// workingFolder, with TMP and TEMP set to tempFolder; its output goes to files
// in outputFolder. Arguments and paths are UTF-8. Nothing when it could not
// be started or did not end within timeoutMs (scaled as the driver's waits
// are).
std::optional<CheckerRun> RunChecker(const std::string& arguments, const std::string& workingFolder,
                                     const std::string& tempFolder, const std::string& outputFolder,
                                     const std::string& program = ProgramFolder() + "updater_check.exe",
                                     DWORD timeoutMs = 120000);

std::wstring FromUtf8(const std::string& bytes);
