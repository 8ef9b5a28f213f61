#include "updater_driver.h"

#include <algorithm>
#include <cstdlib>

namespace {

struct WindowSearch {
    DWORD processId;
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window) &&
        WindowText(window) == *search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

DWORD Scaled(DWORD timeoutMs)
{
    static const DWORD scale = [] {
        const char* value = std::getenv("UPDATER_TEST_TIME_SCALE");
        const long parsed = value ? std::strtol(value, nullptr, 10) : 1;
        return parsed >= 1 && parsed <= 100 ? static_cast<DWORD>(parsed) : 1;
    }();
    return timeoutMs * scale;
}

UpdaterProcess::UpdaterProcess(const std::string& program, const std::string& folder)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + program + "\"";
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &m_process))
        m_process = {};
}

UpdaterProcess::~UpdaterProcess()
{
    if (!Started())
        return;
    if (!WaitForExit(0)) {
        TerminateProcess(m_process.hProcess, 1);
        WaitForSingleObject(m_process.hProcess, 5000);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

HWND UpdaterProcess::WaitForWindow(const std::wstring& caption, DWORD timeoutMs) const
{
    WindowSearch search = {m_process.dwProcessId, &caption, nullptr};
    WaitUntil(
        [&] {
            EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

bool UpdaterProcess::WaitForExit(DWORD timeoutMs) const
{
    return Started() && WaitForSingleObject(m_process.hProcess, Scaled(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD UpdaterProcess::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (Started())
        GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

std::wstring WindowText(HWND window)
{
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, Scaled(5000), &length);
    // The length may be an estimate; the copy says how much it wrote.
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        Scaled(5000), &copied);
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::wstring ControlText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

bool ControlEnabled(HWND dialog, int id)
{
    return IsWindowEnabled(GetDlgItem(dialog, id));
}

void Click(HWND dialog, int id)
{
    PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool ClickWithMouse(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RECT rect;
    GetWindowRect(button, &rect);
    POINT point = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    // A disabled button is not found by WindowFromPoint, which then names
    // the dialog: the child at the point says which control is there.
    POINT inDialog = point;
    ScreenToClient(dialog, &inDialog);
    if (WindowFromPoint(point) != dialog && WindowFromPoint(point) != button)
        return false;
    if (RealChildWindowFromPoint(dialog, inDialog) != button || !SetCursorPos(point.x, point.y))
        return false;
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SendInput(2, clicks, sizeof clicks[0]) == 2;
}

bool Answers(HWND window, DWORD timeoutMs)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, Scaled(timeoutMs), &result) != 0 &&
           !IsHungAppWindow(window);
}

void PressKey(HWND control, WPARAM virtualKey)
{
    UINT scanCode = MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC);
    PostMessageW(control, WM_KEYDOWN, virtualKey, 1 | (scanCode << 16));
    PostMessageW(control, WM_KEYUP, virtualKey, 1 | (scanCode << 16) | 0xC0000000);
}
