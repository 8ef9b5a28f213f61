#include "http_answer.h"

#include <cctype>

AnnouncedLength ParseContentLength(const std::vector<std::string>& values)
{
    AnnouncedLength length;
    for (const std::string& text : values) {
        uint64_t value = 0;
        bool plain = !text.empty();
        for (char c : text) {
            auto digit = static_cast<uint64_t>(c - '0');
            // Compared with constants: no 64-bit division in the 32-bit program.
            if (c < '0' || c > '9' || value > UINT64_MAX / 10 || (value == UINT64_MAX / 10 && digit > UINT64_MAX % 10)) {
                plain = false;
                break;
            }
            value = value * 10 + digit;
        }
        if (!plain || (length.value && *length.value != value))
            return AnnouncedLength{std::nullopt, true};
        length.value = value;
    }
    return length;
}

bool IsIdentityEncoding(std::string_view contentEncoding)
{
    constexpr std::string_view kIdentity = "identity";
    if (contentEncoding.empty())
        return true;
    if (contentEncoding.size() != kIdentity.size())
        return false;
    for (size_t i = 0; i < kIdentity.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(contentEncoding[i])) != kIdentity[i])
            return false;
    }
    return true;
}
