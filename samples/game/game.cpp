// Sample game: shows the words it was started with ("window" or "fullscreen"
// from the updater's buttons) so a run of the updater shows what it passed.
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::wstring text = L"サンプルのゲームです (バージョン 1.04)。\r\nSample game, version 1.04.\r\n\r\n起動オプション / Arguments:";
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words) {
        for (int i = 1; i < count; ++i)
            text += std::wstring(L" \"") + words[i] + L"\"";
        LocalFree(words);
    }
    if (count <= 1)
        text += L" (なし / none)";
    MessageBoxW(nullptr, text.c_str(), L"harun_tesli (sample)", MB_OK | MB_ICONINFORMATION);
    return 0;
}
