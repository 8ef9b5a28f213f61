#include "version.h"

#include <climits>
#include <cstdint>
#include <cstdio>

namespace {

// Texts are copied into buffers of this size, so at most 255 characters of
// any input count.
constexpr size_t kTextBuffer = 256;

// The display labels, as code page 932 bytes written out so that every
// compiler stores them unchanged (clang has no other execution character set
// than UTF-8).
constexpr char kLatestFormat[] = // "最新バージョン %2d.%02d"
    "\x8d\xc5\x90\x56\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93 %2d.%02d";
constexpr char kCurrentFormat[] = // "現在のバージョン %2d.%02d"
    "\x8c\xbb\x8d\xdd\x82\xcc\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93 %2d.%02d";

// Splits a text into tokens as the C tokenizer does: delimiters that stand
// before a token are skipped, the token ends at the next delimiter, which is
// consumed. Each call may use another delimiter set.
class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : m_text(text.substr(0, text.find('\0'))) {}

    // The next token, or an empty view when none is left.
    std::string_view Next(std::string_view delimiters)
    {
        size_t start = m_text.find_first_not_of(delimiters, m_pos);
        if (start == std::string_view::npos) {
            m_pos = m_text.size();
            return {};
        }
        size_t end = m_text.find_first_of(delimiters, start);
        if (end == std::string_view::npos) {
            m_pos = m_text.size();
            return m_text.substr(start);
        }
        m_pos = end + 1;
        return m_text.substr(start, end - start);
    }

private:
    std::string_view m_text;
    size_t m_pos = 0;
};

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal conversion as the C library's: leading white space and a sign are
// allowed, conversion stops at the first non-digit, no digits give 0. Values
// beyond the int range saturate instead of overflowing.
int64_t ToNumber(std::string_view token)
{
    size_t i = 0;
    while (i < token.size() && IsCSpace(token[i]))
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-'))
        negative = token[i++] == '-';
    int64_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        value = value * 10 + (token[i] - '0');
        if (value > int64_t{INT_MAX} + 1)
            break;
    }
    value = negative ? -value : value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return value;
}

int ToVersionValue(int64_t major, int64_t minor)
{
    int64_t value = major * 1000 + minor;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

std::string FormatLine(const char* format, int version)
{
    char line[kTextBuffer];
    std::snprintf(line, sizeof line, format, version / 1000, version % 1000);
    return line;
}

} // namespace

int ParseVersionFile(std::string_view body)
{
    return ParseVersionFileFields(body).value;
}

VersionFields ParseVersionFileFields(std::string_view body)
{
    Tokenizer tokens(body.substr(0, kTextBuffer - 1));
    tokens.Next("=;"); // the key, expected to be "version"
    VersionFields fields;
    fields.major = ToNumber(tokens.Next(",;"));
    fields.minor = ToNumber(tokens.Next(",;"));
    fields.value = ToVersionValue(fields.major, fields.minor);
    return fields;
}

int ParseFileVersion(std::string_view fileVersion)
{
    // Right-aligned in at least 8 characters, as the field has always been read.
    std::string text(fileVersion.substr(0, fileVersion.find('\0')).substr(0, kTextBuffer - 1));
    if (text.size() < 8)
        text.insert(0, 8 - text.size(), ' ');
    Tokenizer tokens(text);
    int64_t major = ToNumber(tokens.Next(","));
    int64_t minor = ToNumber(tokens.Next(","));
    return ToVersionValue(major, minor);
}

std::string FormatLatestLine(int version)
{
    return FormatLine(kLatestFormat, version);
}

std::string FormatCurrentLine(int version)
{
    return FormatLine(kCurrentFormat, version);
}
