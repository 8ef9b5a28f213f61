#include "check_args.h"
#include "check_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr size_t kCap = 1024 * 1024;

FetchFacts Answered(std::optional<uint64_t> contentLength = std::nullopt)
{
    FetchFacts fetch;
    fetch.requestedUrl = fetch.finalUrl = "http://h/game/veltrassa_01/update/f";
    fetch.status = 200;
    fetch.contentLength = contentLength;
    return fetch;
}

FetchFacts Failed(FetchError error, unsigned status = 0, unsigned long systemError = 0)
{
    FetchFacts fetch = Answered();
    fetch.error = error;
    fetch.status = status;
    fetch.systemError = systemError;
    return fetch;
}

// What a case expects: a warning of this severity and file whose cause holds
// this text (others may come with it), or, with an empty text, no warning.
struct Expected {
    Severity severity;
    std::string file;
    std::string cause;
};

struct RuleCase {
    const char* name;
    std::function<void(Warnings&)> check;
    Expected expected;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class RuleTest : public testing::TestWithParam<RuleCase> {};

TEST_P(RuleTest, GivesTheExpectedWarning)
{
    Warnings warnings;
    GetParam().check(warnings);
    const Expected& expected = GetParam().expected;
    if (expected.cause.empty()) {
        EXPECT_TRUE(warnings.empty()) << warnings.front().cause;
        EXPECT_EQ(ExitStatus(warnings), 0);
        return;
    }
    auto match = std::find_if(warnings.begin(), warnings.end(), [&](const Warning& w) {
        return w.cause.find(expected.cause) != std::string::npos;
    });
    ASSERT_NE(match, warnings.end()) << (warnings.empty() ? "no warning" : "first: " + warnings[0].cause);
    EXPECT_EQ(match->severity, expected.severity);
    EXPECT_EQ(match->file, expected.file);
    EXPECT_FALSE(match->fix.empty());
    if (expected.severity == Severity::Problem)
        EXPECT_EQ(ExitStatus(warnings), 1);
    else
        EXPECT_EQ(warnings.size(), 1u);
}

std::function<void(Warnings&)> Version(std::string body, std::optional<uint64_t> contentLength = std::nullopt)
{
    return [=](Warnings& w) { CheckVersionFile(VersionFacts{Answered(contentLength), true, body}, w); };
}

std::function<void(Warnings&)> VersionFetch(FetchFacts fetch)
{
    return [=](Warnings& w) { CheckVersionFile(VersionFacts{fetch, false, ""}, w); };
}

std::function<void(Warnings&)> Versions(int latest, std::optional<int> game)
{
    return [=](Warnings& w) { CheckVersions(latest, game, w); };
}

std::function<void(Warnings&)> News(std::string news, std::optional<uint64_t> contentLength = std::nullopt,
                                     bool defined = true)
{
    return [=](Warnings& w) { CheckNews(NewsFacts{Answered(contentLength), news, defined, kCap}, w); };
}

std::function<void(Warnings&)> Package(PackageOutcome outcome, std::string head = "MZ",
                                        std::optional<uint64_t> contentLength = std::nullopt,
                                        uint64_t received = 5000)
{
    return [=](Warnings& w) { CheckPackage(PackageFacts{Answered(contentLength), outcome, received, head}, w); };
}

std::function<void(Warnings&)> Signature(SignatureState state, FetchFacts fetch = Answered())
{
    return [=](Warnings& w) { CheckSignature(SignatureFacts{state, fetch}, w); };
}

const Expected kNone{Severity::Notice, "", ""};
const std::string kCp932News = "\x82\xa8\x92\x6d\x82\xe7\x82\xb9\r\nNew stage \xb1\xb2"; // お知らせ, ｱｲ
const std::string kUtf8News = "\xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b";          // お知らせ

INSTANTIATE_TEST_SUITE_P(
    VersionFile, RuleTest,
    testing::Values(
        RuleCase{"good", Version("version=1,5;"), kNone},
        RuleCase{"zero", Version("<html>404</html>"), {Severity::Problem, "version.dat", "gives 0.00"}},
        RuleCase{"negative", Version("version=-1,5;"), {Severity::Problem, "version.dat", "below zero (-995)"}},
        RuleCase{"minor 1000", Version("version=1,1005;"),
                 {Severity::Problem, "version.dat", "minor version 1005 is outside 0-999"}},
        RuleCase{"minor shown", Version("version=1,1005;"), {Severity::Problem, "version.dat", "see 2.05"}},
        RuleCase{"negative minor", Version("version=2,-5;"), {Severity::Problem, "version.dat", "see 1.995"}},
        RuleCase{"longer than the first read", Version("version=1,5;", 300),
                 {Severity::Notice, "version.dat", "only the first 12 bytes of its 300 bytes"}},
        RuleCase{"404", VersionFetch(Failed(FetchError::HttpStatus, 404)),
                 {Severity::Problem, "version.dat", "answered HTTP 404"}},
        RuleCase{"no connection", VersionFetch(Failed(FetchError::Unreachable, 0, 12029)),
                 {Severity::Problem, "version.dat", "error 12029"}},
        RuleCase{"bad URL", VersionFetch(Failed(FetchError::BadUrl)),
                 {Severity::Problem, "version.dat", "at most 255 characters"}},
        RuleCase{"certificate", VersionFetch(Failed(FetchError::Certificate, 0, 12045)),
                 {Severity::Problem, "version.dat", "not issued by a CA Windows trusts"}},
        RuleCase{"expired", VersionFetch(Failed(FetchError::Certificate, 0, 12037)),
                 {Severity::Problem, "version.dat", "expired"}},
        RuleCase{"https to http", VersionFetch(Failed(FetchError::InsecureRedirect)),
                 {Severity::Problem, "version.dat", "redirected to plain http"}},
        RuleCase{"redirect loop", VersionFetch(Failed(FetchError::TooManyRedirects)),
                 {Severity::Problem, "version.dat", "more than 10 redirects"}},
        RuleCase{"unread body", [](Warnings& w) { CheckVersionFile(VersionFacts{Answered(), false, ""}, w); },
                 {Severity::Problem, "version.dat", "could not be read"}}));

INSTANTIATE_TEST_SUITE_P(
    GameVersion, RuleTest,
    testing::Values(
        RuleCase{"no game", Versions(1005, std::nullopt), kNone},
        RuleCase{"older game", Versions(1005, 1004), kNone},
        RuleCase{"same", Versions(1005, 1005), {Severity::Notice, "version.dat", "1.05 is the same as the game's 1.05"}},
        RuleCase{"server behind", Versions(1004, 1005), {Severity::Problem, "version.dat", "below the game's"}},
        // A latest version of 0 has its own warning from the version file.
        RuleCase{"no latest", Versions(0, 1005), kNone},
        RuleCase{"game without version", Versions(1005, 0), {Severity::Notice, "game", "no version"}}));

INSTANTIATE_TEST_SUITE_P(
    News, RuleTest,
    testing::Values(
        RuleCase{"code page 932", News(kCp932News), kNone},
        RuleCase{"ASCII", News("Plain news\r\n"), kNone},
        RuleCase{"UTF-8", News(kUtf8News), {Severity::Problem, "text.txt", "looks like UTF-8"}},
        RuleCase{"UTF-8 mark", News("\xEF\xBB\xBFnews"), {Severity::Problem, "text.txt", "looks like UTF-8"}},
        RuleCase{"lone lead byte", News("news \x82"), {Severity::Problem, "text.txt", "byte 0x82 at offset 5"}},
        RuleCase{"bad trail byte", News("\x82\x20"), {Severity::Problem, "text.txt", "byte 0x82 at offset 0"}},
        RuleCase{"undefined byte", News("ab\xFD"), {Severity::Problem, "text.txt", "byte 0xFD at offset 2"}},
        RuleCase{"undefined character", News(kCp932News, std::nullopt, false),
                 {Severity::Problem, "text.txt", "does not define"}},
        RuleCase{"over the cap", News(std::string(kCap, 'a'), kCap + 1),
                 {Severity::Problem, "text.txt", "larger than the updater's news cap"}},
        RuleCase{"at the cap, length unknown", News(std::string(kCap, 'a')),
                 {Severity::Problem, "text.txt", "larger than the updater's news cap"}},
        RuleCase{"cut short", News("news", 100), {Severity::Problem, "text.txt", "ended after 4 bytes of the 100"}},
        RuleCase{"slow", News(std::string(kSlowNewsBytes, 'a'), kSlowNewsBytes),
                 {Severity::Notice, "text.txt", "delays the updater's window"}},
        RuleCase{"just below slow", News(std::string(kSlowNewsBytes - 1, 'a')), kNone},
        RuleCase{"empty", News(""), {Severity::Notice, "text.txt", "empty"}},
        RuleCase{"403", [](Warnings& w) { CheckNews(NewsFacts{Failed(FetchError::HttpStatus, 403), "", true, kCap}, w); },
                 {Severity::Problem, "text.txt", "HTTP 403"}}));

INSTANTIATE_TEST_SUITE_P(
    Package, RuleTest,
    testing::Values(
        RuleCase{"executable", Package(PackageOutcome::Complete), kNone},
        RuleCase{"not MZ", Package(PackageOutcome::Complete, "<h"),
                 {Severity::Problem, "update.exe", "not a Windows executable"}},
        RuleCase{"one byte", Package(PackageOutcome::Complete, "M"),
                 {Severity::Problem, "update.exe", "not a Windows executable"}},
        RuleCase{"empty", Package(PackageOutcome::Empty), {Severity::Problem, "update.exe", "empty"}},
        RuleCase{"short", Package(PackageOutcome::SizeMismatch, "", 9000, 5000),
                 {Severity::Problem, "update.exe", "5,000 bytes arrived, but Content-Length announced 9,000 bytes"}},
        RuleCase{"stalled", Package(PackageOutcome::Incomplete, "", 9000, 3000),
                 {Severity::Problem, "update.exe", "stopped after 3,000 bytes"}},
        RuleCase{"not written", Package(PackageOutcome::NotWritten),
                 {Severity::Problem, "update.exe", "could not write"}},
        RuleCase{"403", [](Warnings& w) {
                     CheckPackage(PackageFacts{Failed(FetchError::HttpStatus, 403), PackageOutcome::TransferFailed, 0, ""}, w);
                 },
                 {Severity::Problem, "update.exe", "HTTP 403"}}));

INSTANTIATE_TEST_SUITE_P(
    Signature, RuleTest,
    testing::Values(
        RuleCase{"not checked", Signature(SignatureState::NotChecked), kNone},
        RuleCase{"verified", Signature(SignatureState::Verified), kNone},
        RuleCase{"404", Signature(SignatureState::Missing, Failed(FetchError::HttpStatus, 404)),
                 {Severity::Problem, "update.exe.sig", "HTTP 404"}},
        RuleCase{"cut short", Signature(SignatureState::Missing), {Severity::Problem, "update.exe.sig", "read whole"}},
        RuleCase{"too large", Signature(SignatureState::TooLarge),
                 {Severity::Problem, "update.exe.sig", "larger than any signature"}},
        RuleCase{"invalid", Signature(SignatureState::Invalid), {Severity::Problem, "update.exe.sig", "does not verify"}}));

TEST(NewsRules, NulCutsTheNewsShort)
{
    Warnings warnings;
    CheckNews(NewsFacts{Answered(), std::string("ab\0cd", 5), true, kCap}, warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].cause.find("NUL byte at offset 2"), std::string::npos) << warnings[0].cause;
}

TEST(NewsRules, UnreachableServerGivesOneWarningNotOnePerRule)
{
    Warnings warnings;
    CheckNews(NewsFacts{Failed(FetchError::Unreachable), "\x83\x6a\x83\x85", true, kCap}, warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].cause.find("no-news text"), std::string::npos);
}

TEST(ExitStatus, NoticesAloneStillPass)
{
    EXPECT_EQ(ExitStatus({}), 0);
    EXPECT_EQ(ExitStatus({{Severity::Notice, "text.txt", "c", "f"}}), 0);
    EXPECT_EQ(ExitStatus({{Severity::Notice, "text.txt", "c", "f"}, {Severity::Problem, "update.exe", "c", "f"}}), 1);
}

TEST(TextAnalysis, Cp932Structure)
{
    const struct {
        std::string bytes;
        std::optional<size_t> invalid;
    } cases[] = {
        {"", std::nullopt},
        {kCp932News, std::nullopt},
        {"\x81\x40\xFC\xFC", std::nullopt},
        {"\x81\x7F", 0},
        {"a\x80", 1},
        {"a\xA0", 1},
        {"\xE0", 0},
        {"\x82\xA0\x82", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindInvalidCp932(c.bytes), c.invalid) << EscapeBytes(c.bytes);
}

TEST(TextAnalysis, Utf8Detection)
{
    const struct {
        std::string bytes;
        bool utf8;
    } cases[] = {
        {"", false},
        {"plain ASCII", false},
        {kUtf8News, true},
        {"\xEF\xBB\xBF", true},
        {kCp932News, false},
        {"\xC0\xAF", false},             // overlong
        {"\xED\xA0\x80", false},         // surrogate
        {"\xF0\x9F\x98\x80", true},      // beyond the basic plane
        {"\xF4\x90\x80\x80", false},     // beyond U+10FFFF
        {"\xE3\x81", false},             // cut off
        {"\x82\xA0", false},             // code page 932 あ
    };
    for (const auto& c : cases)
        EXPECT_EQ(LooksLikeUtf8(c.bytes), c.utf8) << EscapeBytes(c.bytes);
}

TEST(Formatting, BytesProgressAndEscapes)
{
    EXPECT_EQ(FormatBytes(0), "0 bytes");
    EXPECT_EQ(FormatBytes(1), "1 byte");
    EXPECT_EQ(FormatBytes(999), "999 bytes");
    EXPECT_EQ(FormatBytes(1000), "1,000 bytes");
    EXPECT_EQ(FormatBytes(1234567), "1,234,567 bytes");
    EXPECT_EQ(FormatProgress(1234, std::nullopt), "1,234 bytes");
    EXPECT_EQ(FormatProgress(1234, 5000), "1,234 of 5,000 bytes (24%)");
    EXPECT_EQ(FormatProgress(5000, 5000), "5,000 of 5,000 bytes (100%)");
    EXPECT_EQ(FormatProgress(7000, 5000), "7,000 of 5,000 bytes (100%)");
    EXPECT_EQ(FormatProgress(3, 0), "3 bytes");
    EXPECT_EQ(EscapeBytes("version=1,5;\r\n"), "version=1,5;\\r\\n");
    EXPECT_EQ(EscapeBytes(std::string("\0\xFF\t\\", 4)), "\\x00\\xFF\\t\\\\");
}

struct ArgumentsCase {
    std::vector<std::string> args;
    std::string error; // empty: accepted
};

TEST(Arguments, AcceptsTheOptionsInAnyOrder)
{
    ParsedArguments parsed = ParseCheckArguments(
        {"--no-package", "http://h/game/veltrassa_01/update/", "--key", "k.pem", "--game", "C:\\g\\harun_tesli.exe"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->url, "http://h/game/veltrassa_01/update/");
    EXPECT_EQ(parsed.options->keyFile, "k.pem");
    EXPECT_EQ(parsed.options->game, "C:\\g\\harun_tesli.exe");
    EXPECT_FALSE(parsed.options->package);
    EXPECT_FALSE(parsed.options->help);

    ParsedArguments none = ParseCheckArguments({});
    ASSERT_TRUE(none.options);
    EXPECT_FALSE(none.options->url);
    EXPECT_FALSE(none.options->game);
    EXPECT_FALSE(none.options->keyFile);
    EXPECT_TRUE(none.options->package);
    EXPECT_TRUE(ParseCheckArguments({"--help"}).options->help);
}

TEST(Arguments, RejectsBadCommandLines)
{
    const ArgumentsCase cases[] = {
        {{"--game"}, "--game needs a file name"},
        {{"--key", ""}, "--key needs a file name"},
        {{"--game", "a", "--game", "b"}, "--game is given twice"},
        {{"--verbose"}, "unknown option --verbose"},
        {{"http://a/u/", "http://b/u/"}, "more than one URL"},
        {{"ftp://a/u/"}, "must start with http:// or https://"},
        {{"http://a/game/veltrassa_01/update"}, "ending in /"},
    };
    for (const auto& c : cases) {
        ParsedArguments parsed = ParseCheckArguments(c.args);
        EXPECT_FALSE(parsed.options) << c.error;
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    }
}

} // namespace
