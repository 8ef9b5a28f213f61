#include "checker_run.h"

#include <memory>
#include <vector>

#include "test_files.h"
#include "updater_driver.h"

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// A file the child writes to as its standard handle.
Handle InheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return Handle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

// This process's environment with TMP and TEMP pointing at folder.
std::vector<char> EnvironmentWithTemp(const std::string& folder)
{
    std::vector<char> block;
    char* current = GetEnvironmentStringsA();
    for (const char* entry = current; entry && *entry; entry += strlen(entry) + 1) {
        if (_strnicmp(entry, "TMP=", 4) != 0 && _strnicmp(entry, "TEMP=", 5) != 0)
            block.insert(block.end(), entry, entry + strlen(entry) + 1);
    }
    FreeEnvironmentStringsA(current);
    const std::string temp = "TMP=" + folder + '\0' + "TEMP=" + folder + '\0' + '\0';
    block.insert(block.end(), temp.begin(), temp.end());
    return block;
}

} // namespace

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty())
        return {};
    int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

std::optional<CheckerRun> RunChecker(const std::string& arguments, const std::string& workingFolder,
                                     const std::string& tempFolder, const std::string& outputFolder,
                                     const std::string& program, DWORD timeoutMs)
{
    const std::string outputPath = outputFolder + "\\checker_stdout.txt";
    const std::string errorPath = outputFolder + "\\checker_stderr.txt";
    CheckerRun run;
    {
        Handle output = InheritableFile(outputPath);
        Handle errors = InheritableFile(errorPath);
        if (!output || !errors)
            return std::nullopt;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output.get();
        startup.hStdError = errors.get();
        std::wstring commandLine = FromUtf8("\"" + program + "\" " + arguments);
        std::vector<char> environment = EnvironmentWithTemp(tempFolder);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(FromUtf8(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            environment.data(), FromUtf8(workingFolder).c_str(), &startup, &process))
            return std::nullopt;
        Handle processHandle(process.hProcess);
        Handle threadHandle(process.hThread);
        if (WaitForSingleObject(process.hProcess, Scaled(timeoutMs)) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 5000);
            return std::nullopt;
        }
        GetExitCodeProcess(process.hProcess, &run.exitCode);
    }
    run.output = FromUtf8(ReadWholeFile(outputPath).value_or(""));
    run.errors = FromUtf8(ReadWholeFile(errorPath).value_or(""));
    DeleteFileA(outputPath.c_str());
    DeleteFileA(errorPath.c_str());
    return run;
}
