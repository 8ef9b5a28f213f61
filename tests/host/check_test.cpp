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

const std::string kCp932News = "\x82\xa8\x92\x6d\x82\xe7\x82\xb9\r\nNew stage \xb1\xb2"; // お知らせ, ｱｲ

// An answered transfer, or one that failed with error.
TransferInfo Fetch(std::optional<uint64_t> contentLength = std::nullopt, TransferError error = TransferError::None,
                   ClientError systemError = {})
{
    TransferInfo fetch;
    fetch.requestedUrl = fetch.url = "http://h/game/veltrassa_01/update/f";
    fetch.status = error == TransferError::None ? 200u : 0u;
    fetch.error = error;
    fetch.systemError = static_cast<uint32_t>(systemError);
    fetch.contentLength = contentLength;
    return fetch;
}

// A body the updater stopped reading at a bound, after bytes in milliseconds.
TransferInfo Bounded(BodyEnd bound, uint64_t bytes, int64_t milliseconds)
{
    TransferInfo fetch = Fetch();
    fetch.bodyEnd = bound;
    fetch.bodyBytes = bytes;
    fetch.bodyTime = std::chrono::milliseconds(milliseconds);
    return fetch;
}

// An answer with these Content-Length values and Content-Encoding.
TransferInfo Answer(uint32_t status, std::vector<std::string> lengths, std::string encoding = "")
{
    TransferInfo fetch = Fetch();
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
    head.replace(0, 2, "MZ");
    put(0x3C, peAt, 4);
    head.replace(peAt, 4, std::string("PE\0\0", 4));
    const size_t countAt = magic == 0x20B ? 108 : 92, optional = peAt + 24;
    put(peAt + 20, static_cast<uint32_t>(countAt + 4 + 8 * directories), 2);
    put(optional, magic, 2);
    put(optional + countAt, directories, 4);
    put(optional + countAt + 4 + 8 * 4, tableOffset, 4);
    put(optional + countAt + 4 + 8 * 4 + 4, tableSize, 4);
    return head;
}

const std::string kSignedProgram = ProgramHead(0x3FA00, 4976);

// One rule run over the facts of one server file, and the file its warnings name.
struct Rule {
    const char* file;
    std::function<void(Warnings&)> run;
};

// read: a read succeeded, and body is what it gathered.
Rule Version(std::string body, TransferInfo fetch = Fetch(), bool read = true)
{
    std::optional<std::string> read_ = read ? std::optional(body) : std::nullopt;
    return {"version.dat", [=](Warnings& w) { CheckVersionFile(VersionFileFetch{read_, fetch}, w); }};
}

Rule News(std::string news, TransferInfo fetch = Fetch(), bool defined = true, size_t cap = 1024 * 1024)
{
    std::optional<std::string> fetched = fetch.error == TransferError::None ? std::optional(news) : std::nullopt;
    return {"text.txt", [=](Warnings& w) { CheckNews(NewsFacts{NewsFetch{fetched, fetch}, defined, cap}, w); }};
}

Rule Package(DownloadOutcome outcome, std::string head = "", uint64_t received = 0, TransferInfo fetch = Fetch(9000),
             bool signed_ = false)
{
    return {"update.exe", [=](Warnings& w) {
                CheckPackage(PackageFacts{PackageDownload{outcome, received, fetch, Fetch()}, head, signed_}, w);
            }};
}

// The download with the key, stopped by the signature (the package not
// requested) or, with received, after the package's body.
PackageDownload Signed(DownloadOutcome outcome, TransferInfo signature = Fetch(), uint64_t received = 0)
{
    return PackageDownload{outcome, received, received ? Fetch(received) : TransferInfo(), signature};
}

Rule Signature(DownloadOutcome outcome, TransferInfo fetch = Fetch(), uint64_t received = 0)
{
    return {"update.exe.sig", [=](Warnings& w) { CheckSignature(Signed(outcome, fetch, received), w); }};
}

TEST(CheckRules, GiveExactlyTheExpectedWarning)
{
    constexpr Severity kProblem = Severity::Problem, kNotice = Severity::Notice;
    using DO = DownloadOutcome;
    using FE = TransferError;
    TransferInfo redirected = Fetch({}, FE::BadUrl);
    redirected.url = "ftp://h/f";
    const struct {
        Rule rule;
        Severity severity;
        const char* cause; // part of the cause of the one warning; nullptr: no warning at all
    } cases[] = {
        {Version("version=-1,5;"), kProblem, "below zero (-995)"},
        {Version("version=2,-5;"), kProblem, "players see 1.995"},
        {Version("version=1,5;", Fetch(300)), kNotice, "only the first 12 bytes of its 300 bytes"},
        {Version("", Fetch(), false), kProblem, "could not be read"},
        // The start-up bounds: one warning, for the time, not also for the cut text.
        {Version("vers", Bounded(BodyEnd::TimeUp, 4, 3010)), kProblem, "after 4 bytes in 3.01 s (it reads version"},
        {News("\x82\xa8\x92", Bounded(BodyEnd::TimeUp, 3, 9500)), kProblem, "after 3 bytes in 9.50 s (the start-up"},
        {News("", Fetch({}, FE::NoTimeLeft)), kProblem, "had used up their time"},
        // The plain form, as far as it bends: a line end after it.
        {Version("version=1,5;\r\n"), kNotice, nullptr},
        {Version("\xEF\xBB\xBFversion=1,5;\n"), kNotice, "byte-order mark"},
        {Version("version=1,10\n"), kNotice, "does not end in ';'"},
        {Version("version=1;5;"), kProblem, "players see 1.05; most likely meant version=1,5;"},
        {Version("version=1, 5;"), kProblem, "offset 10, ' ' stands where a digit"},
        {Version("version=1,5;\r\nversion=1,6;"), kProblem, "offset 14, 'v' stands where the end of the file"},
        {Version("version=1,"), kProblem, "it ends at offset 10, where a digit belongs"},
        // One warning for 0.00, with the intent where it is clear.
        {Version("version=0.5;"), kProblem, "0.00, no version"},
        {Version("", Fetch({}, FE::BadUrl), false), kProblem, "the URL http://h/game/veltrassa_01/update/f is not"},
        {Version("", redirected, false), kProblem, "redirected to ftp://h/f"},
        // The certificate errors the TLS rows of checker_test.cpp leave out.
        {Version("", Fetch({}, FE::Certificate, ClientError::SecCertDateInvalid), false), kProblem, "expired"},
        {Version("", Fetch({}, FE::Certificate, ClientError::SecCertCnInvalid), false), kProblem, "another host name"},
        // A latest version of 0 has its own warning from the version file.
        {{"", [](Warnings& w) { CheckVersions(0, 1005, w); }}, kNotice, nullptr},
        {{"game", [](Warnings& w) { CheckVersions(1005, 0, w); }}, kProblem, "offered every update for ever"},
        {News(kCp932News, Fetch(), false), kProblem, "does not define"},
        {News(std::string(16, 'a'), Fetch(), true, 16), kProblem, "news cap"},
        {News("news", Fetch(100)), kProblem, "ended after 4 bytes of the 100"},
        {News(""), kNotice, "empty"},
        // Only this warning: a NUL is valid code page 932, and nothing after it is shown.
        {News(std::string("ab\0c\nd", 6)), kProblem, "NUL byte at offset 2"},
        {News("a\r\nb\nc\n"), kProblem, "2 line ends are not CR LF, the first a bare LF at offset 4"},
        {News("a\r\r\nb"), kProblem, "a line end is not CR LF: a bare CR at offset 1"},
        // Only the cap's warning: the last CR was parted from its LF by the cap.
        {News("ab\r\ncd\r", Fetch(), true, 7), kProblem, "news cap"},
        // A failed transfer gives its one warning, not also those of an empty text.
        {News("", Fetch({}, FE::Unreachable)), kProblem, "no-news text"},
        {Package(DO::Installed, "M"), kProblem, "not a Windows executable"},
        {Package(DO::Incomplete, "", 3000), kProblem, "stopped after 3,000 bytes"},
        {Package(DO::CannotWrite), kProblem, "could not write"},
        {Package(DO::TooSlow, "", 31, Bounded(BodyEnd::TooSlow, 31, 30500)), kProblem,
         "fewer than 32,768 bytes arrived in 30 s (31 bytes in 30.50 s)"},
        {Signature(DO::TooSlow, Bounded(BodyEnd::TooSlow, 30, 30200)), kProblem, "(30 bytes in 30.20 s)"},
        // Answers the updater takes as no package, and one whose cut it cannot see.
        {Package(DO::NotPlainAnswer, "", 0, Answer(206, {"4500"})), kProblem, "answered HTTP 206"},
        {Package(DO::NotPlainAnswer, "", 0, Answer(200, {"4500", "9000"})), kProblem,
         "Content-Length: 4500, and Content-Length: 9000, not one length"},
        {Package(DO::NotPlainAnswer, "", 0, Answer(200, {"900"}, "gzip")), kProblem, "Content-Encoding: gzip"},
        {Package(DO::Installed, kSignedProgram, 9000, Answer(200, {"9000", "9000"})), kNotice, nullptr},
        {Package(DO::Installed, kSignedProgram, 9000, Answer(200, {})), kProblem, "the updater installs"},
        {Package(DO::Installed, kSignedProgram, 9000, Answer(200, {}), true), kNotice, "the signature check refuses"},
        // Only a notice: Windows starts an unsigned program, if more warily.
        {Package(DO::Installed, ProgramHead(0, 0), 9000), kNotice, "no Authenticode signature"},
        {Signature(DO::SignatureNotPlainAnswer, Answer(200, {"256"}, "br")), kProblem, "Content-Encoding: br"},
        {News("xy", Answer(200, {"2"}, "gzip")), kProblem, "players see them as they are"},
        {Signature(DO::SignatureMissing), kProblem, "read whole"},
        {Signature(DO::SignatureTooLarge), kProblem, "larger than any"},
        {Signature(DO::SignatureInvalid, Fetch(), 9000), kProblem, "does not verify update.exe"},
        {Signature(DO::SignatureInvalid), kProblem, "could not be checked"},
        // After a good signature, the package's own faults are the package's warnings.
        {Signature(DO::TransferFailed, Fetch(), 0), kProblem, nullptr},
        {Signature(DO::SizeMismatch, Fetch(), 5000), kProblem, nullptr},
        {Signature(DO::TooSlow, Fetch(), 31), kProblem, nullptr},
        {Signature(DO::Installed, Fetch(), 9000), kProblem, nullptr},
        // A package that arrived whole is examined, whatever the signature says.
        {Package(DO::SignatureInvalid, "M", 9000), kProblem, "not a Windows executable"},
    };
    for (const auto& c : cases) {
        Warnings warnings;
        c.rule.run(warnings);
        SCOPED_TRACE(warnings.empty() ? "no warning" : warnings[0].cause);
        if (!c.cause) {
            EXPECT_TRUE(warnings.empty());
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u) << c.cause;
        EXPECT_EQ(warnings[0].severity, c.severity);
        EXPECT_EQ(warnings[0].file, c.rule.file);
        EXPECT_NE(warnings[0].cause.find(c.cause), std::string::npos) << c.cause;
        EXPECT_FALSE(warnings[0].fix.empty());
    }
}

// "verifies" only when the signature was checked over the whole package; after
// a package that did not arrive whole, why it could not be checked.
TEST(CheckRules, SignatureVerdictSaysWhatWasChecked)
{
    using DO = DownloadOutcome;
    TransferInfo notFound = Fetch({}, TransferError::HttpStatus);
    notFound.status = 404;
    const struct {
        PackageDownload download;
        const char* verdict;
    } cases[] = {
        {Signed(DO::Installed, Fetch(), 9000), "verifies update.exe"},
        {Signed(DO::SignatureInvalid, Fetch(), 9000), "does not verify update.exe"},
        {Signed(DO::SignatureInvalid), "not checked: the key or the platform's SHA-256 could not be used"},
        {Signed(DO::SignatureMissing, Fetch({}, TransferError::HttpStatus)), "not usable"},
        {Signed(DO::TooSlow, Bounded(BodyEnd::TooSlow, 30, 30200)), "not usable"},
        {PackageDownload{DO::TransferFailed, 0, notFound, Fetch()},
         "not checked: the server answered HTTP 404 for update.exe"},
        {PackageDownload{DO::TransferFailed, 0, Fetch({}, TransferError::Unreachable), Fetch()},
         "not checked: update.exe could not be fetched"},
        {Signed(DO::SizeMismatch, Fetch(), 5000), "not checked: update.exe was cut short"},
        {Signed(DO::TooSlow, Fetch(), 31), "not checked: update.exe came too slowly"},
        {Signed(DO::Incomplete, Fetch(), 3000), "not checked: the download of update.exe broke off"},
        {Signed(DO::Empty, Fetch(), 0), "not checked: update.exe is empty"},
        {Signed(DO::NotPlainAnswer, Fetch(), 0), "not checked: update.exe was not served whole as stored"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SignatureVerdict(c.download), c.verdict);
}

// Only a certificate table in complete headers counts; any head cut short or
// malformed reads as a program without one.
TEST(CheckPackageHead, CertificateTable)
{
    std::string noPeSignature = kSignedProgram;
    noPeSignature[0x81] = 'X';
    std::string optionalHeaderTooSmall = kSignedProgram;
    optionalHeaderTooSmall[0x80 + 20] = static_cast<char>(92 + 4 + 8 * 4);
    std::string fourDirectories = kSignedProgram; // the table's entry is there, but not counted
    fourDirectories[0x80 + 24 + 92] = 4;
    const struct {
        const char* name;
        std::string head;
        bool table;
    } cases[] = {
        {"PE32 with a table", kSignedProgram, true},
        {"PE32+ with a table", ProgramHead(0x5000, 3000, 0x20B), true},
        {"PE header further in", ProgramHead(0x5000, 3000, 0x10B, 16, 0x300), true},
        {"only the directories up to the table", ProgramHead(0x5000, 3000, 0x10B, 5), true},
        {"four data directories", fourDirectories, false},
        {"table of no size", ProgramHead(0x5000, 0), false},
        {"table at offset 0", ProgramHead(0, 3000), false},
        {"optional header ends before the table", optionalHeaderTooSmall, false},
        {"unknown optional header magic", ProgramHead(0x5000, 3000, 0x107), false},
        {"no PE signature", noPeSignature, false},
        {"cut before the table's entry", kSignedProgram.substr(0, 0x80 + 24 + 96 + 8 * 4 + 4), false},
        {"PE header beyond the head", ProgramHead(0x5000, 3000).replace(0x3C, 4, std::string("\0\x10\0\0", 4)), false},
        {"PE header offset at the top of the range", ProgramHead(0x5000, 3000).replace(0x3C, 4, "\xF0\xFF\xFF\xFF"),
         false},
        {"MZ only", "MZ", false},
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
    EXPECT_EQ(RedactUrl("http://h/u/@x/"), "http://h/u/@x/");
}

TEST(CheckArgs, TakesTheOptionsAroundTheUrlAndRejectsBadCommandLines)
{
    // Paths are taken as they are, whatever their characters.
    ParsedArguments parsed = ParseCheckArguments({L"--no-package", L"http://h/game/veltrassa_01/update/", L"--key",
                                                  L"k.pem", L"--game", L"C:\\\u00e9\u30b2\u30fc\u30e0\\harun_tesli.exe"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->url, "http://h/game/veltrassa_01/update/");
    EXPECT_EQ(parsed.options->keyFile, L"k.pem");
    EXPECT_EQ(parsed.options->game, L"C:\\\u00e9\u30b2\u30fc\u30e0\\harun_tesli.exe");
    EXPECT_FALSE(parsed.options->package);
    EXPECT_FALSE(ParseCheckArguments({}).options->url);
    EXPECT_TRUE(ParseCheckArguments({L"--help"}).options->help);
    const struct {
        std::vector<std::wstring> args;
        std::string error;
    } bad[] = {
        {{L"--game"}, "--game needs a file name"},
        {{L"--key", L""}, "--key needs a file name"},
        {{L"--game", L"a", L"--game", L"b"}, "--game is given twice"},
        {{L"http://me:secret@a/u/", L"http://b/u/"}, "more than one URL: http://***@a/u/ and"},
        {{L"ftp://a/u/"}, "must start with http:// or https://"},
        {{L"http://a/game/veltrassa_01/update"}, "ending in /"},
        {{L"http://\u00e9/u/"}, "must be ASCII, other characters percent-encoded: http://\\u00E9/u/"},
        {{L"--g\u00e4me"}, "unknown option --g\\u00E4me"},
        // Not the help's /?: another character stands there.
        {{L"/\u00bf"}, "must be ASCII, other characters percent-encoded: /\\u00BF"},
    };
    for (const auto& c : bad) {
        parsed = ParseCheckArguments(c.args);
        EXPECT_FALSE(parsed.options) << c.error;
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    }
}

} // namespace
