// Where a Windows program's PE headers place its parts in the file: what a
// package cut short on upload no longer holds. Pure logic; safe for any bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct PeLayout {
    // The bytes the headers and the section table take from the file's start.
    uint64_t headersEnd = 0;
    // Whether head held all of those bytes.
    bool headersWhole = false;
    // The end of the furthest section's data in the file; 0 for no section
    // data, or when the headers are not whole.
    uint64_t sectionsEnd = 0;
    // The certificate table (Authenticode) as the optional header names it: a
    // file offset and a size, both 0 when none is named or head ends before
    // its entry. Read also when the section table lies beyond head: the
    // optional header comes first.
    uint32_t certificateOffset = 0;
    uint32_t certificateSize = 0;

    bool NamesCertificateTable() const { return certificateOffset != 0 && certificateSize != 0; }
    uint64_t CertificateEnd() const { return uint64_t{certificateOffset} + certificateSize; }
};

// The layout that head, the first bytes of a file, describes. Nothing when it
// is not a PE program: no MZ header, or no PE signature where it points (also
// when that lies beyond head). A head that ends inside the headers or the
// section table gives the bytes they need, as far as head tells, and no more.
std::optional<PeLayout> ReadPeLayout(std::string_view head);
