// Any body the server may send as its version file: no crash, no undefined
// behaviour, and the display line always fits its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "version.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view body(reinterpret_cast<const char*>(data), size);
    int latest = ParseVersionFile(body);
    // Only the first 255 bytes are ever read.
    if (size > 255 && ParseVersionFile(body.substr(0, 255)) != latest)
        std::abort();
    if (FormatLatestLine(latest).size() > 255)
        std::abort();
    return 0;
}
