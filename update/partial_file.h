// A file that is written under a temporary name and takes its real name only
// once it is complete, so that a failed write never touches the real file.
#pragma once

#include <windows.h>

#include <string>

class CPartialFile {
public:
    // Creates (or truncates) the temporary file. Check IsOpen.
    explicit CPartialFile(std::string temporaryName);
    // Closes the temporary file and, unless it was committed, removes it.
    ~CPartialFile();
    CPartialFile(const CPartialFile&) = delete;
    CPartialFile& operator=(const CPartialFile&) = delete;

    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    bool Write(const char* data, DWORD size);
    // Flushes the data to disk and replaces target with it.
    bool CommitAs(const std::string& target);

private:
    void Close();

    std::string m_temporaryName;
    HANDLE m_file;
    bool m_committed = false;
};
