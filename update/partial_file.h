// A file that is written under a temporary name and takes its real name only
// once it is complete, so that a failed write never touches the real file.
#pragma once

#include <windows.h>

#include <string>

// The temporary name of this process's download of fileName. Process ids are
// unique among running processes, so two updaters in one folder never share
// one.
std::string PartialFileName(const std::string& fileName);

// Removes the temporary files of fileName that downloads left behind when
// their process was ended. One that another updater is writing is open
// without delete sharing, and stays.
void RemoveStalePartialFiles(const std::string& fileName);

class CPartialFile {
public:
    // Creates (or truncates) the temporary file, which no other process may
    // write, rename or remove while it is open. Check IsOpen.
    explicit CPartialFile(std::string temporaryName);
    // Closes the temporary file and, unless it was committed, removes it.
    ~CPartialFile();
    CPartialFile(const CPartialFile&) = delete;
    CPartialFile& operator=(const CPartialFile&) = delete;

    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    bool Write(const char* data, DWORD size);
    // Empties the file, for a download that starts again from its first byte.
    bool Truncate();
    // Flushes the data to disk and replaces target with it, trying again for
    // about a second while another program holds either file.
    bool CommitAs(const std::string& target);

private:
    void Close();

    std::string m_temporaryName;
    HANDLE m_file;
    bool m_committed = false;
};
