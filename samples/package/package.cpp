// Sample update package: changes no game file. It leaves update-applied.txt in
// its working folder, the installation folder, and says so.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    static const char note[] = "The sample update package ran here.\r\n";
    HANDLE file = CreateFileW(L"update-applied.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = false;
    if (file != INVALID_HANDLE_VALUE) {
        DWORD count = 0;
        written = WriteFile(file, note, sizeof note - 1, &count, nullptr) && count == sizeof note - 1;
        CloseHandle(file);
    }
    if (!written) {
        MessageBoxW(nullptr, L"update-applied.txt を書けませんでした。\r\nCould not write update-applied.txt.",
                    L"Sample update", MB_OK | MB_ICONERROR);
        return 1;
    }
    MessageBoxW(nullptr,
                L"サンプルの更新を適用しました (update-applied.txt)。\r\n"
                L"The sample update was applied (update-applied.txt).",
                L"Sample update", MB_OK | MB_ICONINFORMATION);
    return 0;
}
