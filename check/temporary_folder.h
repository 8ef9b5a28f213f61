// A fresh folder under the user's temporary folder, made the working folder
// for its life, then removed with everything in it. The checker works in one
// as the updater works in the installation folder; the Windows tests lay out
// each installation in one of their own.
#pragma once

#include <string>

class CTemporaryWorkingFolder {
public:
    // prefix: the start of its name, before this process's id and a number.
    explicit CTemporaryWorkingFolder(const std::wstring& prefix);
    // Restores the previous working folder and removes this one.
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
