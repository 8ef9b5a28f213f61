// game_version: the version of a game executable as the updater reads it,
// and the version.dat that announces it, for scripts/release. Prints
// "VALUE version=MAJOR,MINOR;", such as "1005 version=1,5;"; exit status 1
// when the updater reads no version from the file, 2 for a usage error.
#include <windows.h>

#include <cstdio>

#include "version.h"
#include "version_info.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fputs("usage: game_version GAME.exe\n", stderr);
        return 2;
    }
    const int version = ReadFileVersion(argv[1]);
    if (version <= 0) {
        std::fputs("game_version: no version above 0.00 in the FileVersion of the string table 041104b0\n", stderr);
        return 1;
    }
    std::printf("%d %s\n", version, FormatVersionFile(version).c_str());
    return 0;
}
