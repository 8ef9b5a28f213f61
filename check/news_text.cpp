#include "news_text.h"

namespace {

bool IsCp932Lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsCp932Trail(unsigned char c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

bool IsCp932Single(unsigned char c)
{
    return c <= 0x7F || (c >= 0xA1 && c <= 0xDF);
}

// The length of the UTF-8 sequence at i, or 0 when none starts there.
size_t Utf8SequenceLength(std::string_view bytes, size_t i)
{
    auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char c = at(i);
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0; // no overlong forms
        if (c == 0xED)
            high = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > bytes.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (size_t k = 2; k < length; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

std::optional<size_t> FindInvalidCp932(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (IsCp932Single(c))
            continue;
        if (!IsCp932Lead(c) || i + 1 >= bytes.size() || !IsCp932Trail(static_cast<unsigned char>(bytes[i + 1])))
            return i;
        ++i;
    }
    return std::nullopt;
}

bool LooksLikeUtf8(std::string_view bytes)
{
    if (bytes.substr(0, 3) == kUtf8Bom)
        return true;
    bool beyondAscii = false;
    for (size_t i = 0; i < bytes.size();) {
        size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0)
            return false;
        beyondAscii = beyondAscii || length > 1;
        i += length;
    }
    return beyondAscii;
}

std::optional<BareLineEnds> FindBareLineEnds(std::string_view text)
{
    BareLineEnds bare;
    for (size_t i = 0; i < text.size(); ++i) {
        bool lf = text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
        bool cr = text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n');
        if ((lf || cr) && bare.count++ == 0)
            bare.first = i;
    }
    if (bare.count == 0)
        return std::nullopt;
    return bare;
}
