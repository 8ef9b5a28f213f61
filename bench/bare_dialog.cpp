// Shows one dialog and nothing else: what starting any dialog program costs.
//
// Built again with BARE_IMPORT_<DLL> for some of COMCTL32 (with the common
// controls set up as the updater does), SHELL32, WININET, VERSION, CRYPT32
// and BCRYPT, it also imports those DLLs; BARE_WITH_IMPORTS means all of
// them. With
// BARE_UPDATER_TEMPLATE as well, the dialog is the updater's own, from its
// resource script. None fetches or reads anything, so each step from one
// build to the next, and on to the updater, shows what that part of the
// updater's start costs.
#include <windows.h>

#ifdef BARE_WITH_IMPORTS
#define BARE_IMPORT_COMCTL32
#define BARE_IMPORT_SHELL32
#define BARE_IMPORT_WININET
#define BARE_IMPORT_VERSION
#define BARE_IMPORT_CRYPT32
#define BARE_IMPORT_BCRYPT
#endif
#ifdef BARE_IMPORT_COMCTL32
#include <commctrl.h>
#endif
#ifdef BARE_IMPORT_SHELL32
#include <shellapi.h>
#endif
#ifdef BARE_IMPORT_WININET
#include <wininet.h>
#endif
#ifdef BARE_IMPORT_CRYPT32
#include <wincrypt.h>
#endif
#ifdef BARE_IMPORT_BCRYPT
#include <bcrypt.h>
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
#ifdef BARE_IMPORT_COMCTL32
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
#endif
    // Never true: the calls are there only so that their DLLs are imported.
    if (GetCommandLineA() == nullptr) {
#ifdef BARE_IMPORT_SHELL32
        ShellExecuteW(nullptr, nullptr, L"", nullptr, nullptr, SW_SHOWNORMAL);
#endif
#ifdef BARE_IMPORT_WININET
        InternetCloseHandle(nullptr);
#endif
#ifdef BARE_IMPORT_VERSION
        GetFileVersionInfoSizeA("", nullptr);
#endif
#ifdef BARE_IMPORT_CRYPT32
        CryptStringToBinaryA("", 0, CRYPT_STRING_BASE64HEADER, nullptr, nullptr, nullptr, nullptr);
#endif
#ifdef BARE_IMPORT_BCRYPT
        BCryptCloseAlgorithmProvider(nullptr, 0);
#endif
    }
    return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(BARE_DIALOG), nullptr, DialogProc, 0));
}
