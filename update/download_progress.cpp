#include "download_progress.h"

#include <iterator>

namespace {

constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};

} // namespace

std::string FormatSize(uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    // Tenths of the unit, by integers: exact for every 64-bit size.
    size_t unit = 0;
    uint64_t scale = 1024;
    while (unit + 1 < std::size(kUnits) && bytes / scale >= 1024) {
        scale *= 1024;
        ++unit;
    }
    const uint64_t whole = bytes / scale;
    const uint64_t tenths = (bytes % scale) * 10 / scale;
    return std::to_string(whole) + "." + std::to_string(tenths) + " " + kUnits[unit];
}

std::string FormatDownloadProgress(uint64_t received, std::optional<uint64_t> total)
{
    if (!total || *total == 0)
        return FormatSize(received);
    uint64_t percent = 100;
    if (received < *total) {
        // received * 100 would overflow near the top of the range.
        percent = received < UINT64_MAX / 100 ? received * 100 / *total
                                               : received / (*total / 100 + 1);
        percent = percent > 99 ? 99 : percent;
    }
    return FormatSize(received) + " / " + FormatSize(*total) + " (" + std::to_string(percent) + " %)";
}
