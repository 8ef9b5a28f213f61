#include "version.h"

#include <climits>
#include <cstdint>

namespace {

// Texts are copied into buffers of this size, so at most 255 characters of
// any input count.
constexpr size_t kTextBuffer = 256;

// The display labels, as code page 932 bytes written out so that every
// compiler stores them unchanged (clang has no other execution character set
// than UTF-8). Each is followed by one space and the value as "%2d.%02d".
constexpr char kLatestLabel[] = // "最新バージョン"
    "\x8d\xc5\x90\x56\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93";
constexpr char kCurrentLabel[] = // "現在のバージョン"
    "\x8c\xbb\x8d\xdd\x82\xcc\x83\x6f\x81\x5b\x83\x57\x83\x87\x83\x93";

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

// A number as printf's "%2d" (fill ' ') or "%02d" (fill '0') writes it:
// spaces go before a sign, zeros after it.
std::string Padded(int value, size_t width, char fill)
{
    std::string text = std::to_string(value);
    if (text.size() < width)
        text.insert(fill == '0' && value < 0 ? 1 : 0, width - text.size(), fill);
    return text;
}

// label, a space, and the value as "%2d.%02d" of its major and minor. Written
// out rather than with snprintf, which would bring MinGW's whole printf into
// the program for this one line.
std::string FormatLine(const char* label, int version)
{
    return std::string(label) + " " + Padded(version / 1000, 2, ' ') + "." + Padded(version % 1000, 2, '0');
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

std::string FormatVersionFile(int version)
{
    return "version=" + std::to_string(version / 1000) + "," + std::to_string(version % 1000) + ";";
}

std::string FormatLatestLine(int version)
{
    return FormatLine(kLatestLabel, version);
}

std::string FormatCurrentLine(int version)
{
    return FormatLine(kCurrentLabel, version);
}
