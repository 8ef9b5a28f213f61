// Shows one dialog and nothing else: what starting any dialog program costs.
//
// Built again with BARE_WITH_IMPORTS, it also imports the DLLs the updater
// imports and sets the common controls up as the updater does, fetching and
// reading nothing: the step from one build to the other is what the DLLs
// cost the updater's start, the step on to the updater what its own work
// costs.
#include <windows.h>

#ifdef BARE_WITH_IMPORTS
#include <bcrypt.h>
#include <commctrl.h>
#include <shellapi.h>
#include <wincrypt.h>
#include <wininet.h>
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
        ShellExecuteW(nullptr, nullptr, L"", nullptr, nullptr, SW_SHOWNORMAL);
        InternetCloseHandle(nullptr);
        GetFileVersionInfoSizeA("", nullptr);
        CryptStringToBinaryA("", 0, CRYPT_STRING_BASE64HEADER, nullptr, nullptr, nullptr, nullptr);
        BCryptCloseAlgorithmProvider(nullptr, 0);
    }
#endif
    return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(1), nullptr, DialogProc, 0));
}
