// Shows one dialog and nothing else: what starting any dialog program costs.
//
// Built again with BARE_WITH_IMPORTS, it also loads the DLLs the updater
// imports and sets up the common controls as the updater does; with
// BARE_UPDATER_TEMPLATE as well, the dialog is the updater's own, from its
// resource script. Neither fetches nor reads anything, so each step from one
// build to the next, and on to the updater, shows what that part of the
// updater's start costs.
#include <windows.h>

#ifdef BARE_WITH_IMPORTS
#include <commctrl.h>
#include <shellapi.h>
#include <wininet.h>
#endif
#ifdef BARE_UPDATER_TEMPLATE
#include "resource.h"
#define BARE_DIALOG IDD_UPDATER_DIALOG
#else
#define BARE_DIALOG 1
#endif

namespace {

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, 0);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
#ifdef BARE_WITH_IMPORTS
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    // Never true: the calls are there only so that their DLLs are imported.
    if (GetCommandLineA() == nullptr) {
        InternetCloseHandle(nullptr);
        GetFileVersionInfoSizeA("", nullptr);
        ShellExecuteW(nullptr, nullptr, L"", nullptr, nullptr, SW_SHOWNORMAL);
    }
#endif
    return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(BARE_DIALOG), nullptr, DialogProc, 0));
}
