// A fresh folder under the user's temporary folder that the checker works in
// as the updater works in the installation folder: made the working folder
// for its life, then removed with everything in it.
#pragma once

#include <string>

class CTemporaryWorkingFolder {
public:
    CTemporaryWorkingFolder();
    ~CTemporaryWorkingFolder();
    CTemporaryWorkingFolder(const CTemporaryWorkingFolder&) = delete;
    CTemporaryWorkingFolder& operator=(const CTemporaryWorkingFolder&) = delete;

    // False when no folder could be made or entered.
    bool IsReady() const { return m_entered; }
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_previous;
    std::wstring m_path;
    bool m_entered = false;
};
