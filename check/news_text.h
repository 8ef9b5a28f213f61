// What the bytes of the news are: code page 932, UTF-8, and their line ends.
// Pure logic.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

inline constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// The offset of the first byte that does not fit code page 932's structure
// (single bytes, or a lead byte with a trail byte), if any.
std::optional<size_t> FindInvalidCp932(std::string_view bytes);
// True for a byte-order mark, or for valid UTF-8 with characters beyond ASCII.
bool LooksLikeUtf8(std::string_view bytes);

struct BareLineEnds {
    size_t count = 0;
    size_t first = 0; // offset
};

// The LFs without a CR before them and the CRs without an LF after them;
// code page 932 has no trail byte below 0x40, so every such byte is one.
// Windows' multi-line edit control breaks lines only at CR LF and runs the
// lines together at either. Wine's (8.0) breaks at a bare LF as well, though
// not at a bare CR, so news with LF line ends looks right under Wine only.
std::optional<BareLineEnds> FindBareLineEnds(std::string_view text);
