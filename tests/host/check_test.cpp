// The checker's pure rules, for what the Wine rows of checker_test.cpp cannot
// reach cheaply or exactly: failures a scripted server does not produce,
// boundaries, the text analysis and the command line.
#include "check_args.h"
#include "check_rules.h"
#include "http_answer.h"
#include "pe_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
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

struct Section {
    uint32_t offset, size; // of its data in the file
};

// The first 4096 bytes of a PE32 program with these sections and certificate
// table, its headers laid out as a linker lays them out.
std::string LaidOutProgram(std::vector<Section> sections, uint32_t tableOffset = 0, uint32_t tableSize = 0)
{
    std::string head = ProgramHead(tableOffset, tableSize);
    head.resize(std::max<size_t>(4096, 376 + 40 * sections.size()), '\0');
    auto put = [&head](size_t at, uint32_t value, size_t size) {
        for (size_t i = 0; i < size; ++i)
            head[at + i] = static_cast<char>(value >> (8 * i));
    };
    put(0x80 + 6, static_cast<uint32_t>(sections.size()), 2);
    const size_t table = 376; // after the file header and the optional header of ProgramHead
    for (size_t i = 0; i < sections.size(); ++i) {
        head.replace(table + 40 * i, 5, ".sect");
        put(table + 40 * i + 16, sections[i].size, 4);
        put(table + 40 * i + 20, sections[i].offset, 4);
    }
    return head;
}

// A signed self-extracting package of 0x40000 bytes: three sections, archive
// data after them, and the certificate table last.
const std::vector<Section> kPackageSections = {{0x400, 0x1000}, {0x1400, 0x2E000}, {0x2F400, 0x800}};
const std::string kSignedPackage = LaidOutProgram(kPackageSections, 0x3EC00, 0x1400);
constexpr uint64_t kSignedPackageBytes = 0x40000;

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

// fetch: by default a whole answer with its length.
Rule News(std::string news, std::optional<TransferInfo> given = {}, bool defined = true, size_t cap = 1024 * 1024)
{
    const TransferInfo fetch = given.value_or(Fetch(news.size()));
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

// The package served against the publisher's copy, each of this size and digest.
Rule Copy(uint64_t servedSize, const char* servedSha256, uint64_t copySize, const char* copySha256)
{
    return {"update.exe", [=](Warnings& w) {
                CheckPackageCopy(FileSummary{servedSize, servedSha256}, "dist\\update.exe",
                                 FileSummary{copySize, copySha256}, w);
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
        {News("", Fetch({}, FE::TimeUp)), kProblem, "no whole answer head came before the updater's start-up time (10 s in all)"},
        {Package(DO::TooSlow, "", 0, Fetch({}, FE::TooSlow)), kProblem, "no whole answer head came within 30 s"},
        {News("", Fetch({}, FE::UnreadableHeader)), kProblem, "could not be read whole"},
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
        {Package(DO::Installed, "M"), kProblem, "not a Windows executable"},
        {Package(DO::Incomplete, "", 3000), kProblem, "stopped after 3,000 bytes"},
        {Package(DO::CannotWrite), kProblem, "could not write"},
        {Package(DO::TooSlow, "", 31, Bounded(BodyEnd::TooSlow, 31, 30500)), kProblem,
         "fewer than 32,768 bytes arrived in 30 s (31 bytes in 30.50 s)"},
        {Signature(DO::TooSlow, Bounded(BodyEnd::TooSlow, 30, 30200)), kProblem, "(30 bytes in 30.20 s)"},
        {Signature(DO::TooSlow, Fetch({}, FE::TooSlow)), kProblem, "no whole answer head came within 30 s"},
        {Copy(315872, "ab12", 315872, "ab12"), kNotice, nullptr},
        {Copy(277743, "cd34", 315872, "ab12"), kProblem,
         "the file served (277,743 bytes, SHA-256 cd34) is not your copy dist\\update.exe (315,872 bytes, SHA-256 "
         "ab12): shorter, most likely cut short on upload; no updater can tell"},
        {Copy(315872, "cd34", 315872, "ab12"), kProblem, "SHA-256 cd34) is not your copy dist\\update.exe (315,872"},
        // Answers the updater takes as no package, and one whose cut it cannot see.
        {Package(DO::NotPlainAnswer, "", 0, Answer(206, {"4500"})), kProblem, "answered HTTP 206"},
        {Package(DO::NotPlainAnswer, "", 0, Answer(200, {"4500", "9000"})), kProblem,
         "Content-Length: 4500, and Content-Length: 9000, not one length"},
        {Package(DO::NotPlainAnswer, "", 0, Answer(200, {"900"}, "gzip")), kProblem, "Content-Encoding: gzip"},
        {Package(DO::Installed, kSignedProgram, 9000, Answer(200, {"9000", "9000"})), kNotice, nullptr},
        {Package(DO::NotLengthFramed, "", 0, Answer(200, {})), kProblem, "the updater refuses it"},
        {Package(DO::NotLengthFramed, "", 0, Answer(200, {}), true), kNotice, "the checker did not examine it"},
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
        // The game the package installs against the latest version: any difference fails the release.
        {{"version.dat", [](Warnings& w) { CheckNewGame(1050, 1005, w); }}, kProblem,
         "the latest version 1.50 is above the new game's 1.05 (the game update.exe installs): players who update "
         "still have 1.05, below the latest, and are offered the update for ever"},
        {{"version.dat", [](Warnings& w) { CheckNewGame(1004, 1005, w); }}, kProblem,
         "the latest version 1.04 is below the new game's 1.05 (the game update.exe installs): players are never "
         "offered the update"},
        {{"", [](Warnings& w) { CheckNewGame(1005, 1005, w); }}, kNotice, nullptr},
        {{"", [](Warnings& w) { CheckNewGame(0, 1005, w); }}, kNotice, nullptr},
        {{"new game", [](Warnings& w) { CheckNewGame(1005, 0, w); }}, kProblem,
         "no version from the new game (no FileVersion in the string table 041104b0): players who install the "
         "update see 0.00 and are offered it for ever"},
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
        {Signed(DO::TooSlow, Fetch({}, TransferError::TooSlow)), "not usable"},
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

// The fix texts that carry a command or an order of steps.
TEST(CheckRules, FixesSayWhatToRun)
{
    const struct {
        Rule rule;
        const char* fix; // part of the fix of the first warning
    } cases[] = {
        {News("\xe3\x81\x8a\r\n"),
         "sed '1s/^\\xEF\\xBB\\xBF//' news-utf8.txt | iconv -f UTF-8 -t CP932 | LC_ALL=C sed 's/\\r*$/\\r/' > text.txt"},
        // A cut upload shows in size and digest; signing it again would hide it.
        {Signature(DownloadOutcome::SignatureInvalid, Fetch(), 9000),
         "first compare update.exe as served with the signed file you uploaded: the update.exe block above shows "
         "the size and SHA-256 served, ls -l update.exe and sha256sum update.exe"},
        {Signature(DownloadOutcome::SignatureInvalid, Fetch(), 9000),
         "; if they differ, upload your file again, whole, with its update.exe.sig. Only if they are the same, sign it"},
        {{"update.exe",
          [](Warnings& w) {
              CheckPackageLayout(
                  PackageFacts{PackageDownload{DownloadOutcome::Installed, 100000, Fetch(100000), Fetch()},
                               kSignedPackage, true},
                  w);
          }},
         "upload update.exe again, whole, and compare update.exe as served with the signed file you uploaded"},
        {{"version.dat", [](Warnings& w) { CheckNewGame(1050, 1005, w); }},
         "write version=1,5; (shown as 1.05) into version.dat; or pack a game whose FileVersion is 1.50"},
        {{"version.dat", [](Warnings& w) { CheckNewGame(1004, 2010, w); }},
         "write version=2,10; (shown as 2.10) into version.dat, last"},
    };
    for (const auto& c : cases) {
        Warnings warnings;
        c.rule.run(warnings);
        ASSERT_FALSE(warnings.empty()) << c.fix;
        EXPECT_NE(warnings[0].fix.find(c.fix), std::string::npos) << warnings[0].fix;
    }
}

// A package whose headers place more than arrived was cut short: a problem,
// and a certificate table that does not fit is no signature.
TEST(CheckPackageLayout, ACutPackageFails)
{
    constexpr Severity kProblem = Severity::Problem, kNotice = Severity::Notice;
    const std::string unsigned_ = LaidOutProgram(kPackageSections);
    std::vector<Section> many(100, Section{0x400, 0x200});
    const struct {
        const char* name;
        std::string head;
        uint64_t received;
        std::vector<std::pair<Severity, const char*>> expected; // in order: severity and part of the cause
        DownloadOutcome outcome = DownloadOutcome::Installed;
    } cases[] = {
        {"whole and signed", kSignedPackage, kSignedPackageBytes, {}},
        {"whole, with bytes after the table", kSignedPackage, kSignedPackageBytes + 10, {}},
        {"cut in a section", kSignedPackage, 100000,
         {{kProblem, "its PE headers place section data up to byte 195,584, but the file served has 100,000 bytes"},
          {kNotice, "names an Authenticode certificate table beyond the end of the file, so it carries no"}}},
        {"cut in the archive data after the sections", kSignedPackage, 0x30000,
         {{kProblem, "its Authenticode certificate table runs to byte 262,144, but the file served has 196,608 "
                     "bytes: it was cut short (on upload?)"},
          {kNotice, "carries no Authenticode signature"}}},
        {"cut by one byte", kSignedPackage, kSignedPackageBytes - 1,
         {{kProblem, "certificate table runs to byte 262,144"}, {kNotice, "no Authenticode signature"}}},
        {"unsigned and whole", unsigned_, 0x2FC00, {}},
        {"unsigned, cut in its last section", unsigned_, 0x2FBFF,
         {{kProblem, "section data up to byte 195,584, but the file served has 195,583 bytes"}}},
        {"cut in its headers", kSignedPackage.substr(0, 300), 300,
         {{kProblem, "it ends inside its PE headers, which take 496 bytes, but the file served has 300 bytes"}}},
        // The head is the first 4096 bytes of a longer file: a section table
        // beyond it is not known, and nothing is judged.
        {"section table beyond the head", LaidOutProgram(many).substr(0, 4096), 0x100000, {}},
        {"not a PE program", std::string("MZ") + std::string(100, '\0'), 102, {}},
        // A whole package is judged whatever its signature says: the signature
        // over a cut upload fails too.
        {"cut, its signature not verifying", kSignedPackage, 100000,
         {{kProblem, "section data up to byte 195,584"}, {kNotice, "no Authenticode signature"}},
         DownloadOutcome::SignatureInvalid},
        {"not a complete download", kSignedPackage, 100000, {}, DownloadOutcome::Incomplete},
    };
    for (const auto& c : cases) {
        Warnings warnings;
        CheckPackageLayout(
            PackageFacts{PackageDownload{c.outcome, c.received, Fetch(c.received), Fetch()}, c.head, true}, warnings);
        ASSERT_EQ(warnings.size(), c.expected.size()) << c.name << (warnings.empty() ? "" : ": " + warnings[0].cause);
        for (size_t i = 0; i < warnings.size(); ++i) {
            EXPECT_EQ(warnings[i].severity, c.expected[i].first) << c.name;
            EXPECT_EQ(warnings[i].file, "update.exe") << c.name;
            EXPECT_NE(warnings[i].cause.find(c.expected[i].second), std::string::npos)
                << c.name << ": " << warnings[i].cause;
        }
    }
}

TEST(CheckPackageLayout, ReadsTheHeadersOfAnyBytes)
{
    std::string pe32plus = LaidOutProgram(kPackageSections, 0x3EC00, 0x1400);
    pe32plus[0x80 + 24] = 0x0B, pe32plus[0x80 + 25] = 0x02; // magic 0x20B: its count and entries stand 16 bytes on, on zeros here
    std::string sectionOfNoSize = LaidOutProgram({{0x400, 0x200}, {0x7FFFFFFF, 0}});
    std::string overflowing = LaidOutProgram({{0xFFFFFFFF, 0xFFFFFFFF}}, 0xFFFFFFFF, 0xFFFFFFFF);
    std::string headersOverflowing = LaidOutProgram({});
    headersOverflowing.replace(0x80 + 6, 2, "\xFF\xFF");
    headersOverflowing.replace(0x80 + 20, 2, "\xFF\xFF");
    std::string fourDirectories = kSignedPackage; // the table's entry is there, but not counted
    fourDirectories[0x80 + 24 + 92] = 4;
    std::string entryCutOff = LaidOutProgram({}, 0x5000, 3000); // the optional header ends inside the entry
    entryCutOff[0x80 + 20] = static_cast<char>(92 + 4 + 8 * 4 + 4);
    const struct {
        const char* name;
        std::string head;
        std::optional<PeLayout> expected;
    } cases[] = {
        {"PE32 with a table", kSignedPackage, PeLayout{496, true, 0x2FC00, 0x3EC00, 0x1400}},
        {"four data directories", fourDirectories, PeLayout{496, true, 0x2FC00, 0, 0}},
        {"optional header ends inside the table's entry", entryCutOff, PeLayout{0x80 + 24 + 132, true, 0, 0, 0}},
        {"PE32+ reads the table's entry further on", pe32plus, PeLayout{496, true, 0x2FC00, 0, 0}},
        {"a section of no size ends nothing", sectionOfNoSize, PeLayout{456, true, 0x600, 0, 0}},
        {"offsets at the top of the range", overflowing, PeLayout{416, true, 0x1FFFFFFFEull, 0xFFFFFFFF, 0xFFFFFFFF}},
        {"headers larger than any head", headersOverflowing, PeLayout{0x80 + 24 + 0xFFFF + 40ull * 0xFFFF, false}},
        {"cut in the file header", kSignedPackage.substr(0, 0x90), PeLayout{0x80 + 24, false}},
        {"PE header offset at the top of the range",
         kSignedPackage.substr(0, 0x3C) + "\xF0\xFF\xFF\xFF" + kSignedPackage.substr(0x40), std::nullopt},
        {"no PE signature", std::string(kSignedPackage).replace(0x80, 2, "NE"), std::nullopt},
        {"no MZ", std::string(kSignedPackage).replace(0, 2, "ZM"), std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& c : cases) {
        std::optional<PeLayout> layout = ReadPeLayout(c.head);
        ASSERT_EQ(layout.has_value(), c.expected.has_value()) << c.name;
        if (!layout)
            continue;
        EXPECT_EQ(layout->headersEnd, c.expected->headersEnd) << c.name;
        EXPECT_EQ(layout->headersWhole, c.expected->headersWhole) << c.name;
        EXPECT_EQ(layout->sectionsEnd, c.expected->sectionsEnd) << c.name;
        EXPECT_EQ(layout->certificateOffset, c.expected->certificateOffset) << c.name;
        EXPECT_EQ(layout->certificateSize, c.expected->certificateSize) << c.name;
    }
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
    EXPECT_EQ(ParseCheckArguments({L"--package", L"dist\\\u00e9\\update.exe"}).options->packageCopy,
              L"dist\\\u00e9\\update.exe");
    // Paths are taken as they are, whatever their characters.
    ParsedArguments parsed =
        ParseCheckArguments({L"--no-package", L"http://h/game/veltrassa_01/update/", L"--key", L"k.pem", L"--game",
                             L"C:\\\u00e9\u30b2\u30fc\u30e0\\harun_tesli.exe", L"--new-game", L"new\\harun_tesli.exe"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->url, "http://h/game/veltrassa_01/update/");
    EXPECT_EQ(parsed.options->keyFile, L"k.pem");
    EXPECT_EQ(parsed.options->game, L"C:\\\u00e9\u30b2\u30fc\u30e0\\harun_tesli.exe");
    EXPECT_EQ(parsed.options->newGame, L"new\\harun_tesli.exe");
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
        {{L"--new-game", L"a", L"--new-game", L"b"}, "--new-game is given twice"},
        {{L"--new-game"}, "--new-game needs a file name"},
        {{L"--package"}, "--package needs a file name"},
        {{L"--package", L"a", L"--package", L"b"}, "--package is given twice"},
        {{L"--package", L"a", L"--no-package"}, "--package and --no-package exclude each other"},
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
