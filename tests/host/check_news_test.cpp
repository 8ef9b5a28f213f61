// The rules for the news, and the analysis of its bytes.
#include "check_facts.h"
#include "news_text.h"

namespace {

TEST(CheckNewsRules, GiveExactlyTheExpectedWarning)
{
    constexpr Severity kProblem = Severity::Problem, kNotice = Severity::Notice;
    using FE = TransferError;
    ExpectOneWarning({
        {News(kCp932News, {}, false), kProblem, "does not define"},
        {News(std::string(16, 'a'), Fetch(), true, 16), kProblem, "news cap"},
        {News("news", Fetch(100)), kProblem, "ended after 4 bytes of the 100"},
        {News("news", Fetch()), kNotice, "a body cut short looks whole to the updater and to this check"},
        {News(""), kNotice, "empty"},
        // Only this warning: a NUL is valid code page 932, and nothing after it is shown.
        {News(std::string("ab\0c\nd", 6)), kProblem, "NUL byte at offset 2"},
        {News("a\r\nb\nc\n"), kProblem, "2 line ends are not CR LF, the first a bare LF at offset 4"},
        {News("a\r\r\nb"), kProblem, "a line end is not CR LF: a bare CR at offset 1"},
        // Only the cap's warning: the last CR was parted from its LF by the cap.
        {News("ab\r\ncd\r", Fetch(), true, 7), kProblem, "news cap"},
        // A failed transfer gives its one warning, not also those of an empty text.
        {News("", Fetch({}, FE::Unreachable)), kProblem, "no-news text"},
    });
}

TEST(CheckNewsRules, FixesSayWhatToRun)
{
    ExpectFirstFix({
        {News("\xe3\x81\x8a\r\n"),
         "sed '1s/^\\xEF\\xBB\\xBF//' news-utf8.txt | iconv -f UTF-8 -t CP932 | LC_ALL=C sed 's/\\r*$/\\r/' > text.txt"},
    });
}

TEST(CheckText, Cp932AndUtf8Detection)
{
    const struct {
        std::string bytes;
        std::optional<size_t> invalidCp932;
        bool utf8;
    } cases[] = {
        {"plain ASCII", std::nullopt, false},
        {kCp932News, std::nullopt, false},
        {"\xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b", std::nullopt, true}, // お知らせ, also valid cp932
        {"\xEF\xBB\xBF\x82\xA8", std::nullopt, true}, // a byte-order mark, then code page 932
        {"\x81\x40\xFC\xFC", std::nullopt, false},
        {"\x81\x7F", 0, false},
        {"\x82\x20", 0, false},
        {"a\x80", 1, false},
        {"a\xA0", 1, false},
        {"ab\xFD", 2, false},
        {"\xE0", 0, false},
        {"\xC0\xAF", std::nullopt, false},        // overlong
        {"\xED\xA0\x80", 2, false},               // surrogate
        {"\xF0\x9F\x98\x80", std::nullopt, true}, // beyond the basic plane
        {"\xF4\x90\x80\x80", 2, false},           // beyond U+10FFFF
        {"\xE3\x81", std::nullopt, false},        // cut off
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindInvalidCp932(c.bytes), c.invalidCp932) << EscapeBytes(c.bytes);
        EXPECT_EQ(LooksLikeUtf8(c.bytes), c.utf8) << EscapeBytes(c.bytes);
    }
}

} // namespace
