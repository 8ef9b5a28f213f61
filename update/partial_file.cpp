#include "partial_file.h"

#include <utility>

CPartialFile::CPartialFile(std::string temporaryName)
    : m_temporaryName(std::move(temporaryName)),
      m_file(CreateFileA(m_temporaryName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
{
}

CPartialFile::~CPartialFile()
{
    bool created = IsOpen();
    Close();
    if (created && !m_committed)
        DeleteFileA(m_temporaryName.c_str());
}

bool CPartialFile::Write(const char* data, DWORD size)
{
    DWORD written = 0;
    return IsOpen() && WriteFile(m_file, data, size, &written, nullptr) && written == size;
}

bool CPartialFile::CommitAs(const std::string& target)
{
    if (!IsOpen() || !FlushFileBuffers(m_file))
        return false;
    // Closed first: an open file cannot be renamed.
    Close();
    m_committed = MoveFileExA(m_temporaryName.c_str(), target.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!m_committed)
        DeleteFileA(m_temporaryName.c_str());
    return m_committed;
}

void CPartialFile::Close()
{
    if (IsOpen())
        CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}
