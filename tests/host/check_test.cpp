// The checker's pure rules, for what the Wine rows of checker_test.cpp cannot
// reach cheaply or exactly: failures a scripted server does not produce,
// boundaries, the text analysis and the command line.
#include "check_args.h"
#include "check_rules.h"
#include "http_answer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr size_t kCap = 1024 * 1024;
const std::string kCp932News = "\x82\xa8\x92\x6d\x82\xe7\x82\xb9\r\nNew stage \xb1\xb2"; // お知らせ, ｱｲ
const std::string kUtf8News = "\xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b";          // お知らせ

// An answered transfer, or one that failed with error.
FetchFacts Fetch(std::optional<uint64_t> contentLength = std::nullopt, FetchError error = FetchError::None,
                 unsigned long systemError = 0)
{
    FetchFacts fetch;
    fetch.requestedUrl = fetch.finalUrl = "http://h/game/veltrassa_01/update/f";
    fetch.status = error == FetchError::None ? 200u : 0u;
    fetch.error = error;
    fetch.systemError = systemError;
    fetch.contentLength = contentLength;
    return fetch;
}

FetchFacts Failed(FetchError error, unsigned long systemError = 0)
{
    return Fetch(std::nullopt, error, systemError);
}

// A transfer redirected to url that then failed with error.
FetchFacts RedirectedTo(const std::string& url, FetchError error)
{
    FetchFacts fetch = Failed(error);
    fetch.finalUrl = url;
    return fetch;
}

// A body the updater stopped reading at a bound, after bytes in seconds.
FetchFacts Bounded(BodyBound bound, uint64_t bytes, double seconds)
{
    FetchFacts fetch = Fetch();
    fetch.bound = bound;
    fetch.bodyBytes = bytes;
    fetch.bodySeconds = seconds;
    return fetch;
}

// An answer with these Content-Length values and Content-Encoding.
FetchFacts Answer(unsigned status, std::vector<std::string> lengths, std::string encoding = "")
{
    FetchFacts fetch = Fetch();
    fetch.status = status;
    AnnouncedLength length = ParseContentLength(lengths);
    fetch.contentLength = length.value;
    fetch.contentLengthMalformed = length.malformed;
    fetch.contentLengthHeaders = std::move(lengths);
    fetch.contentEncoding = std::move(encoding);
    return fetch;
}

// The first bytes of a Windows program as a linker lays them out: the MZ
// header pointing at the PE header at peAt, the optional header of this magic
// (0x10B PE32, 0x20B PE32+) with that many data directories, the fifth of
// which, the certificate table, at this file offset and of this size.
std::string ProgramHead(uint32_t tableOffset, uint32_t tableSize, uint16_t magic = 0x10B, uint32_t directories = 16,
                        uint32_t peAt = 0x80)
{
    std::string head(1024, '\0');
    auto put = [&head](size_t at, uint32_t value, size_t size) {
        for (size_t i = 0; i < size; ++i)
            head[at + i] = static_cast<char>(value >> (8 * i));
    };
    head[0] = 'M';
    head[1] = 'Z';
    put(0x3C, peAt, 4);
    head.replace(peAt, 4, std::string("PE\0\0", 4));
    const size_t countAt = magic == 0x20B ? 108 : 92;
    put(peAt + 20, static_cast<uint32_t>(countAt + 4 + 8 * directories), 2);
    const size_t optional = peAt + 24;
    put(optional, magic, 2);
    put(optional + countAt, directories, 4);
    put(optional + countAt + 4 + 8 * 4, tableOffset, 4);
    put(optional + countAt + 4 + 8 * 4 + 4, tableSize, 4);
    return head;
}

const std::string kSignedProgram = ProgramHead(0x3FA00, 4976);

const std::string kOverlongUrl = "http://h/" + std::string(260, 'x');
const std::string kRedirectedToOverlongUrl = "the server redirected to " + kOverlongUrl + ", which is not";

using Check = std::function<void(Warnings&)>;

Check Version(std::string body, FetchFacts fetch = Fetch(), bool read = true)
{
    return [=](Warnings& w) { CheckVersionFile(VersionFacts{fetch, read, body}, w); };
}

Check News(std::string news, FetchFacts fetch = Fetch(), bool defined = true, size_t cap = kCap)
{
    return [=](Warnings& w) { CheckNews(NewsFacts{fetch, news, defined, cap}, w); };
}

Check Package(PackageOutcome outcome, std::string head = "", uint64_t received = 0, FetchFacts fetch = Fetch(9000),
              bool signed_ = false)
{
    return [=](Warnings& w) { CheckPackage(PackageFacts{fetch, outcome, received, head, signed_}, w); };
}

Check Signature(SignatureState state, FetchFacts fetch = Fetch())
{
    return [=](Warnings& w) { CheckSignature(SignatureFacts{state, fetch}, w); };
}

struct RuleCase {
    const char* name;
    Check check;
    Severity severity;
    const char* file;  // nullptr: no warning at all
    const char* cause; // part of the cause of the one warning
};

class CheckRules : public testing::TestWithParam<RuleCase> {};

TEST_P(CheckRules, GiveExactlyTheExpectedWarning)
{
    const RuleCase& c = GetParam();
    Warnings warnings;
    c.check(warnings);
    if (!c.file) {
        EXPECT_TRUE(warnings.empty()) << warnings.front().cause;
        return;
    }
    ASSERT_EQ(warnings.size(), 1u) << (warnings.empty() ? "no warning" : warnings[0].cause);
    EXPECT_EQ(warnings[0].severity, c.severity);
    EXPECT_EQ(warnings[0].file, c.file);
    EXPECT_NE(warnings[0].cause.find(c.cause), std::string::npos) << warnings[0].cause;
    EXPECT_FALSE(warnings[0].fix.empty());
}

constexpr Severity kProblem = Severity::Problem;
constexpr Severity kNotice = Severity::Notice;

INSTANTIATE_TEST_SUITE_P(
    Rules, CheckRules,
    testing::Values(
        RuleCase{"negative", Version("version=-1,5;"), kProblem, "version.dat", "below zero (-995)"},
        RuleCase{"negative minor", Version("version=2,-5;"), kProblem, "version.dat", "see 1.995"},
        RuleCase{"longer than the first read", Version("version=1,5;", Fetch(300)), kNotice, "version.dat",
                 "only the first 12 bytes of its 300 bytes"},
        RuleCase{"unread body", Version("", Fetch(), false), kProblem, "version.dat", "could not be read"},
        // The start-up bounds: one warning, for the time, not also for the cut text.
        RuleCase{"dripping version file", Version("vers", Bounded(BodyBound::TimeUp, 4, 3.01)), kProblem,
                 "version.dat",
                 "the updater stopped reading it after 4 bytes in 3.01 s (it reads version.dat for at most 3 s, "
                 "so that its window shows); players see 0.00"},
        RuleCase{"dripping news", News("\x82\xa8\x92", Bounded(BodyBound::TimeUp, 3, 9.5)), kProblem, "text.txt",
                 "after 3 bytes in 9.50 s (the start-up fetches have 10 s in all, so that its window shows); "
                 "players see only that part"},
        RuleCase{"no time left for the news", News("", Failed(FetchError::NoTimeLeft)), kProblem, "text.txt",
                 "not fetched: the updater's start-up fetches (10 s in all) had used up their time"},
        // The plain form, as far as it bends: a line end after it.
        RuleCase{"line end after the form", Version("version=1,5;\r\n"), kNotice, nullptr, ""},
        RuleCase{"byte-order mark", Version("\xEF\xBB\xBFversion=1,5;\n"), kNotice, "version.dat",
                 "byte-order mark, which the updater takes as part of the key: players see 1.05"},
        RuleCase{"no final semicolon", Version("version=1,10\n"), kNotice, "version.dat",
                 "does not end in ';' as version=MAJOR,MINOR; does: players see 1.10"},
        RuleCase{"semicolon between the numbers", Version("version=1;5;"), kProblem, "version.dat",
                 "(at offset 9, ';' stands where ',' belongs): players see 1.05; most likely meant version=1,5;"},
        RuleCase{"space in a number", Version("version=1, 5;"), kProblem, "version.dat",
                 "(at offset 10, ' ' stands where a digit belongs): players see 1.05"},
        RuleCase{"text after the form", Version("version=1,5;\r\nversion=1,6;"), kProblem, "version.dat",
                 "(at offset 14, 'v' stands where the end of the file belongs): players see 1.05"},
        RuleCase{"cut off", Version("version=1,"), kProblem, "version.dat",
                 "(it ends at offset 10, where a digit belongs): players see 1.00"},
        // One warning for 0.00, with the intent where it is clear.
        RuleCase{"dot giving 0.00", Version("version=0.5;"), kProblem, "version.dat",
                 "it gives 0.00, no version: players see it and Update stays disabled for everyone; most likely "
                 "meant version=0,5;, shown as 0.05"},
        RuleCase{"bad URL", Version("", Failed(FetchError::BadUrl), false), kProblem, "version.dat",
                 "the URL http://h/game/veltrassa_01/update/f is not an http or https URL of at most 255 characters"},
        RuleCase{"redirect to an overlong URL",
                 Version("", RedirectedTo(kOverlongUrl, FetchError::BadUrl), false),
                 kProblem, "version.dat", kRedirectedToOverlongUrl.c_str()},
        // The certificate errors the TLS rows of checker_test.cpp leave out.
        RuleCase{"expired", Version("", Failed(FetchError::Certificate, 12037), false), kProblem, "version.dat",
                 "has expired or is not yet valid"},
        RuleCase{"another host", Version("", Failed(FetchError::Certificate, 12038), false), kProblem, "version.dat",
                 "issued for another host name"},
        // A latest version of 0 has its own warning from the version file.
        RuleCase{"no latest", [](Warnings& w) { CheckVersions(0, 1005, w); }, kNotice, nullptr, ""},
        RuleCase{"game without version", [](Warnings& w) { CheckVersions(1005, 0, w); }, kProblem, "game",
                 "offered every update for ever"},
        RuleCase{"undefined character", News(kCp932News, Fetch(), false), kProblem, "text.txt", "does not define"},
        RuleCase{"at the cap, length unknown", News(std::string(16, 'a'), Fetch(), true, 16), kProblem,
                 "text.txt", "larger than the updater's news cap"},
        RuleCase{"cut short", News("news", Fetch(100)), kProblem, "text.txt", "ended after 4 bytes of the 100"},
        RuleCase{"empty", News(""), kNotice, "text.txt", "empty"},
        // Only this warning: a NUL is valid code page 932, and nothing after it is shown.
        RuleCase{"NUL", News(std::string("ab\0c\nd", 6)), kProblem, "text.txt", "NUL byte at offset 2"},
        RuleCase{"bare LF", News("a\r\nb\nc\n"), kProblem, "text.txt",
                 "2 line ends are not CR LF, the first a bare LF at offset 4"},
        RuleCase{"bare CR", News("a\r\r\nb"), kProblem, "text.txt", "a line end is not CR LF: a bare CR at offset 1"},
        RuleCase{"last CR parted from its LF by the cap", News("ab\r\ncd\r", Fetch(), true, 7), kProblem,
                 "text.txt", "larger than the updater's news cap"},
        // A failed transfer gives its one warning, not also those of an empty text.
        RuleCase{"unreachable", News("", Failed(FetchError::Unreachable)), kProblem, "text.txt", "no-news text"},
        RuleCase{"one byte", Package(PackageOutcome::Complete, "M"), kProblem, "update.exe",
                 "not a Windows executable"},
        RuleCase{"stalled", Package(PackageOutcome::Incomplete, "", 3000), kProblem, "update.exe",
                 "stopped after 3,000 bytes"},
        RuleCase{"not written", Package(PackageOutcome::NotWritten), kProblem, "update.exe", "could not write"},
        RuleCase{"dripping package", Package(PackageOutcome::TooSlow, "", 31, Bounded(BodyBound::TooSlow, 31, 30.5)),
                 kProblem, "update.exe",
                 "fewer than 32,768 bytes arrived in 30 s (31 bytes in 30.50 s), and the updater gave up"},
        RuleCase{"dripping signature", Signature(SignatureState::TooSlow, Bounded(BodyBound::TooSlow, 30, 30.2)),
                 kProblem, "update.exe.sig", "(30 bytes in 30.20 s)"},
        // Answers the updater takes as no package, and one whose cut it cannot see.
        RuleCase{"partial answer", Package(PackageOutcome::NotPlainAnswer, "", 0, Answer(206, {"4500"})), kProblem,
                 "update.exe", "answered HTTP 206 for http://h/game/veltrassa_01/update/f, not 200 with the whole file"},
        RuleCase{"two lengths", Package(PackageOutcome::NotPlainAnswer, "", 0, Answer(200, {"4500", "9000"})),
                 kProblem, "update.exe", "Content-Length: 4500, and Content-Length: 9000, not one length"},
        RuleCase{"length with a sign", Package(PackageOutcome::NotPlainAnswer, "", 0, Answer(200, {"+9000"})),
                 kProblem, "update.exe", "Content-Length: +9000, not one length in plain digits"},
        RuleCase{"unasked encoding", Package(PackageOutcome::NotPlainAnswer, "", 0, Answer(200, {"900"}, "gzip")),
                 kProblem, "update.exe", "Content-Encoding: gzip, which the updater never asks for"},
        RuleCase{"the same length twice",
                 Package(PackageOutcome::Complete, kSignedProgram, 9000, Answer(200, {"9000", "9000"})), kNotice,
                 nullptr, ""},
        RuleCase{"no length", Package(PackageOutcome::Complete, kSignedProgram, 9000, Answer(200, {})), kProblem,
                 "update.exe", "without Content-Length, so a download cut short looks whole: the updater installs"},
        RuleCase{"no length, signed", Package(PackageOutcome::Complete, kSignedProgram, 9000, Answer(200, {}), true),
                 kNotice, "update.exe", "the signature check refuses it"},
        // Only a notice: Windows starts an unsigned program, if more warily.
        RuleCase{"no Authenticode signature", Package(PackageOutcome::Complete, ProgramHead(0, 0), 9000), kNotice,
                 "update.exe", "it carries no Authenticode signature"},
        RuleCase{"MZ, but no PE header", Package(PackageOutcome::Complete, "MZ", 9000), kNotice, "update.exe",
                 "it carries no Authenticode signature"},
        RuleCase{"signature answer encoded", Signature(SignatureState::NotPlainAnswer, Answer(200, {"256"}, "br")),
                 kProblem, "update.exe.sig", "Content-Encoding: br"},
        RuleCase{"news encoded", News("xy", Answer(200, {"2"}, "gzip")), kProblem, "text.txt",
                 "players see them as they are"},
        RuleCase{"signature cut short", Signature(SignatureState::Missing), kProblem, "update.exe.sig", "read whole"},
        RuleCase{"signature too large", Signature(SignatureState::TooLarge), kProblem, "update.exe.sig",
                 "larger than any signature"}));

// Only a certificate table in complete headers counts; any head cut short or
// malformed reads as a program without one.
TEST(CheckPackageHead, CertificateTable)
{
    std::string noPeSignature = kSignedProgram;
    noPeSignature[0x81] = 'X';
    std::string optionalHeaderTooSmall = kSignedProgram;
    optionalHeaderTooSmall[0x80 + 20] = static_cast<char>(92 + 4 + 8 * 4);
    const struct {
        const char* name;
        std::string head;
        bool table;
    } cases[] = {
        {"PE32 with a table", kSignedProgram, true},
        {"PE32+ with a table", ProgramHead(0x5000, 3000, 0x20B), true},
        {"PE header further in", ProgramHead(0x5000, 3000, 0x10B, 16, 0x300), true},
        {"only the directories up to the table", ProgramHead(0x5000, 3000, 0x10B, 5), true},
        {"without a table", ProgramHead(0, 0), false},
        {"table of no size", ProgramHead(0x5000, 0), false},
        {"table at offset 0", ProgramHead(0, 3000), false},
        {"PE32+ without a table", ProgramHead(0, 0, 0x20B), false},
        {"four data directories", ProgramHead(0x5000, 3000, 0x10B, 4), false},
        {"optional header ends before the table", optionalHeaderTooSmall, false},
        {"unknown optional header magic", ProgramHead(0x5000, 3000, 0x107), false},
        {"no PE signature", noPeSignature, false},
        {"cut before the table's entry", kSignedProgram.substr(0, 0x80 + 24 + 96 + 8 * 4 + 4), false},
        {"PE header beyond the head", ProgramHead(0x5000, 3000).replace(0x3C, 4, std::string("\0\x10\0\0", 4)), false},
        {"PE header offset at the top of the range", ProgramHead(0x5000, 3000).replace(0x3C, 4, "\xF0\xFF\xFF\xFF"),
         false},
        {"MZ only", "MZ", false},
        {"empty", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HasCertificateTable(c.head), c.table) << c.name;
}

TEST(CheckText, Cp932AndUtf8Detection)
{
    const struct {
        std::string bytes;
        std::optional<size_t> invalidCp932;
        bool utf8;
    } cases[] = {
        {"", std::nullopt, false},
        {"plain ASCII", std::nullopt, false},
        {kCp932News, std::nullopt, false},
        {kUtf8News, std::nullopt, true}, // valid code page 932 as well
        {"\xEF\xBB\xBF", std::nullopt, true},
        {"\x81\x40\xFC\xFC", std::nullopt, false},
        {"\x81\x7F", 0, false},
        {"\x82\x20", 0, false},
        {"a\x80", 1, false},
        {"a\xA0", 1, false},
        {"ab\xFD", 2, false},
        {"\xE0", 0, false},
        {"\x82\xA0\x82", 2, false},
        {"\xC0\xAF", std::nullopt, false},         // overlong
        {"\xED\xA0\x80", 2, false},                // surrogate
        {"\xF0\x9F\x98\x80", std::nullopt, true},  // beyond the basic plane
        {"\xF4\x90\x80\x80", 2, false},            // beyond U+10FFFF
        {"\xE3\x81", std::nullopt, false},         // cut off
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindInvalidCp932(c.bytes), c.invalidCp932) << EscapeBytes(c.bytes);
        EXPECT_EQ(LooksLikeUtf8(c.bytes), c.utf8) << EscapeBytes(c.bytes);
    }
}

TEST(CheckFormatting, BytesProgressAndEscapes)
{
    EXPECT_EQ(FormatBytes(1), "1 byte");
    EXPECT_EQ(FormatBytes(999), "999 bytes");
    EXPECT_EQ(FormatBytes(1000), "1,000 bytes");
    EXPECT_EQ(FormatProgress(1234, std::nullopt), "1,234 bytes");
    EXPECT_EQ(FormatProgress(1234, 5000), "1,234 of 5,000 bytes (24%)");
    EXPECT_EQ(FormatProgress(7000, 5000), "7,000 of 5,000 bytes (100%)");
    EXPECT_EQ(FormatProgress(3, 0), "3 bytes");
    EXPECT_EQ(EscapeBytes(std::string("a;\r\n\0\xFF\t\\", 8)), "a;\\r\\n\\x00\\xFF\\t\\\\");
    EXPECT_EQ(RedactUrl("http://user:secret@h:8080/u/"), "http://***@h:8080/u/");
    EXPECT_EQ(RedactUrl("https://user@h/u/"), "https://***@h/u/");
    EXPECT_EQ(RedactUrl("http://h/u/@x/"), "http://h/u/@x/");
    EXPECT_EQ(RedactUrl("http://h/u/"), "http://h/u/");
}

TEST(CheckArgs, TakesTheOptionsAroundTheUrl)
{
    ParsedArguments parsed = ParseCheckArguments(
        {"--no-package", "http://h/game/veltrassa_01/update/", "--key", "k.pem", "--game", "C:\\g\\harun_tesli.exe"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->url, "http://h/game/veltrassa_01/update/");
    EXPECT_EQ(parsed.options->keyFile, "k.pem");
    EXPECT_EQ(parsed.options->game, "C:\\g\\harun_tesli.exe");
    EXPECT_FALSE(parsed.options->package);
    EXPECT_FALSE(ParseCheckArguments({}).options->url);
    EXPECT_TRUE(ParseCheckArguments({"--help"}).options->help);
}

TEST(CheckArgs, RejectsBadCommandLines)
{
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--game"}, "--game needs a file name"},
        {{"--key", ""}, "--key needs a file name"},
        {{"--game", "a", "--game", "b"}, "--game is given twice"},
        {{"http://a/u/", "http://b/u/"}, "more than one URL"},
        {{"http://me:secret@a/u/", "http://b/u/"}, "more than one URL: http://***@a/u/ and"},
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
