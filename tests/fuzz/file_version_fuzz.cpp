// Any FileVersion string a game executable may carry: no crash, no undefined
// behaviour, only the first 255 characters count, and the display line always
// fits its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view fileVersion(reinterpret_cast<const char*>(data), size);
    int current = ParseFileVersion(fileVersion);
    if (size > 255 && ParseFileVersion(fileVersion.substr(0, 255)) != current)
        std::abort();
    if (FormatCurrentLine(current).size() > 255)
        std::abort();
    return 0;
}
