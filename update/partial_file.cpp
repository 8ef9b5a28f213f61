#include "partial_file.h"

#include <memory>
#include <string_view>
#include <utility>

namespace {

constexpr char kPartialSuffix[] = ".part";
// An antivirus scans a new program file as soon as it is closed, and holds it
// open meanwhile: a rename then fails for a moment. About a second of tries.
constexpr int kRenameTries = 10;
constexpr DWORD kRenamePauseMs = 100;

struct FindCloser {
    void operator()(HANDLE find) const noexcept { FindClose(find); }
};

// True for fileName + ".part", the name of every download before temporary
// names took the process id, and for fileName + "." + digits + ".part".
bool IsPartialFileName(std::string_view name, std::string_view fileName)
{
    constexpr std::string_view suffix = kPartialSuffix;
    if (name.size() < fileName.size() + suffix.size() || name.substr(0, fileName.size()) != fileName ||
        name.substr(name.size() - suffix.size()) != suffix)
        return false;
    std::string_view middle = name.substr(fileName.size(), name.size() - fileName.size() - suffix.size());
    return middle.empty() ||
           (middle.size() > 1 && middle[0] == '.' && middle.find_first_not_of("0123456789", 1) == middle.npos);
}

} // namespace

std::string PartialFileName(const std::string& fileName)
{
    return fileName + "." + std::to_string(GetCurrentProcessId()) + kPartialSuffix;
}

void RemoveStalePartialFiles(const std::string& fileName)
{
    WIN32_FIND_DATAA entry;
    HANDLE first = FindFirstFileA((fileName + "*" + kPartialSuffix).c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE)
        return;
    std::unique_ptr<void, FindCloser> find(first);
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsPartialFileName(entry.cFileName, fileName))
            DeleteFileA(entry.cFileName);
    } while (FindNextFileA(find.get(), &entry));
}

CPartialFile::CPartialFile(std::string temporaryName)
    : m_temporaryName(std::move(temporaryName)),
      m_file(CreateFileA(m_temporaryName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr))
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

bool CPartialFile::Truncate()
{
    LARGE_INTEGER start = {};
    return IsOpen() && SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN) && SetEndOfFile(m_file);
}

bool CPartialFile::CommitAs(const std::string& target)
{
    if (!IsOpen() || !FlushFileBuffers(m_file))
        return false;
    // Closed first: an open file cannot be renamed.
    Close();
    for (int tries = 1;; ++tries) {
        m_committed = MoveFileExA(m_temporaryName.c_str(), target.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        const DWORD error = m_committed ? ERROR_SUCCESS : GetLastError();
        if (m_committed || tries == kRenameTries || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED))
            break;
        Sleep(kRenamePauseMs);
    }
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
