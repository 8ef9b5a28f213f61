// Starts the updater in an installation folder and drives it from outside,
// as a player would: window texts, enabled states, clicks, keys, menus.
#pragma once

#include <windows.h>

#include <string>

// timeoutMs times UPDATER_TEST_TIME_SCALE, a whole number that the test
// command sets where the programs under test run under an emulator, each
// start taking a minute instead of a second; 1 where it is not set.
DWORD Scaled(DWORD timeoutMs);

class UpdaterProcess {
public:
    // Starts program with folder as its working folder.
    UpdaterProcess(const std::string& program, const std::string& folder);
    ~UpdaterProcess();
    UpdaterProcess(const UpdaterProcess&) = delete;
    UpdaterProcess& operator=(const UpdaterProcess&) = delete;

    bool Started() const { return m_process.hProcess != nullptr; }
    // The visible top-level window of the process with this caption, or
    // nullptr when none shows within timeoutMs (scaled, as every wait here).
    HWND WaitForWindow(const std::wstring& caption, DWORD timeoutMs = 20000) const;
    // True when the process has ended within timeoutMs.
    bool WaitForExit(DWORD timeoutMs = 10000) const;
    // The exit code once ended (a crash gives the exception's code), or
    // STILL_ACTIVE.
    DWORD ExitCode() const;

private:
    PROCESS_INFORMATION m_process = {};
};

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);
bool ControlEnabled(HWND dialog, int id);
// Clicks a button as the mouse would; a disabled button ignores it.
void Click(HWND dialog, int id);
// Clicks a button with the mouse, as a player does: the cursor moves onto it
// and the system takes a press and a release, whatever the window does with
// them. The dialog is raised above every other window first, so that no
// other test's window takes the click; false when the button is still not
// the window at that point.
bool ClickWithMouse(HWND dialog, int id);
// True when the window's thread answers a message within timeoutMs and the
// system does not take the window for hung.
bool Answers(HWND window, DWORD timeoutMs = 1000);
// A key press for the control, through the dialog's own message loop.
void PressKey(HWND control, WPARAM virtualKey);
// Waits until condition holds, or timeoutMs passes; returns the condition.
// Measured in real time: a condition that asks a busy window may itself take
// seconds.
template <class Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 10000)
{
    ULONGLONG deadline = GetTickCount64() + Scaled(timeoutMs);
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(50);
    }
    return true;
}
