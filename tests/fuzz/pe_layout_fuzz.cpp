// Any bytes as the head of a downloaded package: no crash, no undefined
// behaviour, and a layout only as far as the bytes go.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "pe_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view head(reinterpret_cast<const char*>(data), size);
    std::optional<PeLayout> layout = ReadPeLayout(head);
    if (!layout)
        return 0;
    // Whole headers lie within head; a layout read from headers that are not
    // whole places no section data.
    if (layout->headersWhole ? layout->headersEnd > size : layout->sectionsEnd != 0)
        std::abort();
    return 0;
}
