// Text out to a console or to whatever the output is redirected to: UTF-16 to
// a console, which shows every character whatever its code page, and UTF-8
// to a file or pipe.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

class CConsoleOutput {
public:
    // STD_OUTPUT_HANDLE or STD_ERROR_HANDLE. The standard handle is the
    // process's, not ours: it is never closed here.
    explicit CConsoleOutput(DWORD standardHandle);

    bool IsConsole() const { return m_console; }
    void Write(std::wstring_view text);
    // A line that the next one overwrites; only on a console.
    void Progress(std::wstring_view text);
    // Clears the progress line, if any.
    void EndProgress();

private:
    HANDLE m_handle;
    bool m_console = false;
    size_t m_progressLength = 0;
};

// Text in the system's ANSI code page (command-line words, file names, URLs,
// the checker's own ASCII texts) as UTF-16.
std::wstring FromAnsi(std::string_view text);
