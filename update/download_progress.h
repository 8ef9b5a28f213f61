// The second line of the news box while the package downloads, and the
// checker's own progress line: how far a download has come. Pure logic.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A size as Windows shows one, in units of 1,024: "532 bytes", "1.0 KB",
// "12.3 MB", "1.5 GB", one decimal cut, not rounded, so that it never shows
// more than there is.
std::string FormatSize(uint64_t bytes);

// "12.3 MB" when no length was announced, otherwise "12.3 MB / 200.0 MB
// (6 %)": the percentage rounded down, and 100 % only once all has arrived.
std::string FormatDownloadProgress(uint64_t received, std::optional<uint64_t> total);
