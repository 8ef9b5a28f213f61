#include "resume.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "http_answer.h"
#include "length_framing.h"
#include "transfer_facts.h"

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                       "Friday", "Saturday", "Sunday"};

// Reads the text a piece at a time; every step fails once one has.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}
    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_ok && m_text.empty(); }

    void Literal(std::string_view literal)
    {
        m_ok = m_ok && m_text.substr(0, literal.size()) == literal;
        if (m_ok)
            m_text.remove_prefix(literal.size());
    }
    // Exactly count digits; with padded, a leading space stands for a zero.
    int Number(size_t count, bool padded = false)
    {
        int value = 0;
        for (size_t i = 0; m_ok && i < count; ++i) {
            char c = i < m_text.size() ? m_text[i] : '\0';
            if (padded && i == 0 && c == ' ' && count > 1)
                continue;
            m_ok = c >= '0' && c <= '9';
            value = value * 10 + (c - '0');
        }
        if (m_ok)
            m_text.remove_prefix(count);
        return value;
    }
    template <size_t N>
    int OneOf(const std::array<std::string_view, N>& names)
    {
        for (size_t i = 0; m_ok && i < N; ++i) {
            if (m_text.substr(0, names[i].size()) == names[i]) {
                m_text.remove_prefix(names[i].size());
                return static_cast<int>(i);
            }
        }
        m_ok = false;
        return -1;
    }

private:
    std::string_view m_text;
    bool m_ok = true;
};

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::optional<int64_t> Seconds(int year, int month, int day, int hour, int minute, int second)
{
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int monthDays = kMonthDays[month] + (month == 1 && IsLeap(year) ? 1 : 0);
    if (day < 1 || day > monthDays || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    return DaysFromCivil(year, month + 1, day) * 86400 + hour * 3600 + minute * 60 + second;
}

// "08:49:37"
void Time(Reader& reader, int& hour, int& minute, int& second)
{
    hour = reader.Number(2);
    reader.Literal(":");
    minute = reader.Number(2);
    reader.Literal(":");
    second = reader.Number(2);
}

// A strong entity tag: a quoted string of visible characters but the quote.
bool IsStrongEntityTag(std::string_view tag)
{
    if (tag.size() < 2 || tag.front() != '"' || tag.back() != '"')
        return false;
    for (char c : tag.substr(1, tag.size() - 2)) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte <= 0x20 || byte == 0x7F)
            return false;
    }
    return true;
}

// "bytes FIRST-LAST/COMPLETE", each in plain digits.
bool ParseContentRange(std::string_view text, uint64_t& first, uint64_t& last, uint64_t& complete)
{
    constexpr std::string_view kUnit = "bytes ";
    if (text.substr(0, kUnit.size()) != kUnit)
        return false;
    text.remove_prefix(kUnit.size());
    uint64_t* values[] = {&first, &last, &complete};
    const char separators[] = {'-', '/', '\0'};
    for (int i = 0; i < 3; ++i) {
        size_t end = separators[i] ? text.find(separators[i]) : text.size();
        if (end == std::string_view::npos)
            return false;
        AnnouncedLength number = ParseContentLength({std::string(text.substr(0, end))});
        if (!number.value)
            return false;
        *values[i] = *number.value;
        text.remove_prefix(separators[i] ? end + 1 : end);
    }
    return true;
}

// "Sun, 06 Nov 1994 08:49:37 GMT" (names kDays, separator " ", four year
// digits) or "Sunday, 06-Nov-94 08:49:37 GMT" (kLongDays, "-", two).
std::optional<int64_t> DayFirstDate(std::string_view text, const std::array<std::string_view, 7>& dayNames,
                                    std::string_view separator, size_t yearDigits)
{
    Reader r(text);
    r.OneOf(dayNames);
    r.Literal(", ");
    const int day = r.Number(2);
    r.Literal(separator);
    const int month = r.OneOf(kMonths);
    r.Literal(separator);
    int year = r.Number(yearDigits);
    r.Literal(" ");
    int hour = 0, minute = 0, second = 0;
    Time(r, hour, minute, second);
    r.Literal(" GMT");
    if (!r.AtEnd())
        return std::nullopt;
    if (yearDigits == 2)
        year += year < 70 ? 2000 : 1900;
    return Seconds(year, month, day, hour, minute, second);
}

} // namespace

std::optional<int64_t> ParseHttpDate(std::string_view text)
{
    // IMF-fixdate, the form every server should send; then RFC 850, with a
    // two-digit year: 70 to 99 are the 1900s.
    if (std::optional<int64_t> seconds = DayFirstDate(text, kDays, " ", 4))
        return seconds;
    if (std::optional<int64_t> seconds = DayFirstDate(text, kLongDays, "-", 2))
        return seconds;
    // asctime.
    Reader r(text);
    r.OneOf(kDays);
    r.Literal(" ");
    const int month = r.OneOf(kMonths);
    r.Literal(" ");
    const int day = r.Number(2, true);
    r.Literal(" ");
    int hour = 0, minute = 0, second = 0;
    Time(r, hour, minute, second);
    r.Literal(" ");
    const int year = r.Number(4);
    if (r.AtEnd())
        return Seconds(year, month, day, hour, minute, second);
    return std::nullopt;
}

std::optional<std::string> StrongValidator(const std::vector<std::string>& etags, const std::string& lastModified,
                                           const std::string& date)
{
    if (etags.size() > 1)
        return std::nullopt;
    if (etags.size() == 1)
        return IsStrongEntityTag(etags.front()) ? std::optional<std::string>(etags.front()) : std::nullopt;
    std::optional<int64_t> modified = ParseHttpDate(lastModified);
    std::optional<int64_t> answered = ParseHttpDate(date);
    if (!modified || !answered || *answered - *modified < 1)
        return std::nullopt;
    return lastModified;
}

std::optional<std::string> ResumeValidator(const TransferInfo& answer)
{
    if (!FramedByOneLength(answer.contentLengthHeaders, answer.transferEncoding))
        return std::nullopt;
    return StrongValidator(answer.etags, answer.lastModified, answer.date);
}

bool AcceptsByteRanges(std::string_view acceptRanges)
{
    // A list of range units, such as "bytes" or "none".
    for (size_t start = 0; start <= acceptRanges.size();) {
        size_t end = std::min(acceptRanges.find(',', start), acceptRanges.size());
        std::string_view unit = acceptRanges.substr(start, end - start);
        while (!unit.empty() && (unit.front() == ' ' || unit.front() == '\t'))
            unit.remove_prefix(1);
        while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\t'))
            unit.remove_suffix(1);
        constexpr std::string_view kBytes = "bytes";
        bool bytes = unit.size() == kBytes.size();
        for (size_t i = 0; bytes && i < unit.size(); ++i)
            bytes = std::tolower(static_cast<unsigned char>(unit[i])) == kBytes[i];
        if (bytes)
            return true;
        start = end + 1;
    }
    return false;
}

std::string ResumeHeaders(uint64_t offset, const std::string& validator)
{
    return "Range: bytes=" + std::to_string(offset) + "-\r\nIf-Range: " + validator + "\r\n";
}

RangeAnswer JudgeRangeAnswer(const TransferInfo& answer, uint64_t from, uint64_t total,
                             const std::vector<std::string>& etags)
{
    if (answer.status == 200)
        return RangeAnswer::Whole;
    uint64_t first = 0, last = 0, complete = 0;
    const bool exactRange = answer.status == 206 && answer.contentRanges.size() == 1 &&
                            ParseContentRange(answer.contentRanges.front(), first, last, complete) &&
                            first == from && from < total && last == total - 1 && complete == total;
    const bool exactLength = !answer.contentLengthMalformed && answer.contentLength &&
                             *answer.contentLength == total - from && answer.transferEncoding.empty();
    const bool sameFile = answer.etags.empty() || answer.etags == etags;
    const bool plain = IsIdentityEncoding(answer.contentEncoding) &&
                       answer.contentType.rfind("multipart/", 0) == std::string::npos;
    return exactRange && exactLength && sameFile && plain ? RangeAnswer::Rest : RangeAnswer::Wrong;
}
