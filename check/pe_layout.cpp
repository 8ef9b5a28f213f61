#include "pe_layout.h"

namespace {

constexpr size_t kPeOffsetAt = 0x3C;
constexpr uint64_t kFileHeaderBytes = 4 + 20; // "PE\0\0" and the COFF file header
constexpr uint64_t kSectionHeaderBytes = 40;
constexpr uint32_t kCertificateDirectory = 4;

// Little-endian; the caller has checked that the bytes are there.
uint32_t Read(std::string_view bytes, uint64_t at, size_t size)
{
    uint32_t value = 0;
    for (size_t i = size; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[static_cast<size_t>(at) + i]);
    return value;
}

bool Holds(std::string_view bytes, uint64_t at, uint64_t size)
{
    return at <= bytes.size() && bytes.size() - at >= size;
}

} // namespace

std::optional<PeLayout> ReadPeLayout(std::string_view head)
{
    if (!Holds(head, 0, kPeOffsetAt + 4) || head.substr(0, 2) != "MZ")
        return std::nullopt;
    const uint64_t pe = Read(head, kPeOffsetAt, 4);
    if (!Holds(head, pe, 4) || head.substr(static_cast<size_t>(pe), 4) != std::string_view("PE\0\0", 4))
        return std::nullopt;
    PeLayout layout;
    layout.headersEnd = pe + kFileHeaderBytes;
    if (!Holds(head, pe, kFileHeaderBytes))
        return layout;
    const uint32_t sections = Read(head, pe + 6, 2);
    const uint64_t optional = pe + kFileHeaderBytes;
    const uint32_t optionalBytes = Read(head, pe + 20, 2);
    const uint64_t sectionTable = optional + optionalBytes;
    // The number of data directories stands at another offset in PE32 and PE32+.
    const uint32_t magic = optionalBytes >= 2 && Holds(head, optional, 2) ? Read(head, optional, 2) : 0;
    const uint64_t countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    const uint64_t entry = optional + countAt + 4 + 8 * kCertificateDirectory;
    if (countAt != 0 && entry + 8 <= sectionTable && Holds(head, entry, 8) &&
        Read(head, optional + countAt, 4) > kCertificateDirectory) {
        layout.certificateOffset = Read(head, entry, 4);
        layout.certificateSize = Read(head, entry + 4, 4);
    }
    layout.headersEnd = sectionTable + kSectionHeaderBytes * sections;
    if (!Holds(head, 0, layout.headersEnd))
        return layout;
    layout.headersWhole = true;
    for (uint32_t i = 0; i < sections; ++i) {
        const uint64_t header = sectionTable + kSectionHeaderBytes * i;
        const uint32_t size = Read(head, header + 16, 4), offset = Read(head, header + 20, 4);
        if (size != 0 && uint64_t{offset} + size > layout.sectionsEnd)
            layout.sectionsEnd = uint64_t{offset} + size;
    }
    return layout;
}
