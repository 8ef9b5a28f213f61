// The rules for the package: how it was served, its PE layout and its
// Authenticode certificate table, and the publisher's own copy.
#include "check_facts.h"
#include "pe_layout.h"

namespace {

// The package's answer of a static server, changed.
template <class Change>
TransferInfo Served(Change change)
{
    TransferInfo fetch = Fetch(9000);
    change(fetch);
    return fetch;
}

TEST(CheckPackageRules, GiveExactlyTheExpectedWarning)
{
    constexpr Severity kProblem = Severity::Problem, kNotice = Severity::Notice;
    using DO = DownloadOutcome;
    ExpectOneWarning({
        {Package(DO::Installed, "M"), kProblem, "not a Windows executable"},
        {Package(DO::Incomplete, "", 3000), kProblem, "stopped after 3,000 bytes"},
        {Package(DO::CannotWrite), kProblem, "could not write"},
        {Copy(315872, "ab12", 315872, "ab12"), kNotice, nullptr},
        {Copy(277743, "cd34", 315872, "ab12"), kProblem,
         "the file served (277,743 bytes, SHA-256 cd34) is not your copy dist\\update.exe (315,872 bytes, SHA-256 "
         "ab12): shorter, most likely cut short on upload; no updater can tell"},
        {Copy(315872, "cd34", 315872, "ab12"), kProblem, "SHA-256 cd34) is not your copy dist\\update.exe (315,872"},
        {Package(DO::Installed, kSignedProgram, 9000, Answer(200, {"9000", "9000"})), kNotice, nullptr},
        {Package(DO::NotLengthFramed, "", 0, Answer(200, {})), kProblem, "the updater refuses it"},
        {Package(DO::NotLengthFramed, "", 0, Answer(200, {}), true), kNotice, "the checker did not examine it"},
        {Package(DO::Installed, kSignedProgram, 9000, Answer(200, {}), true), kNotice, "the signature check refuses"},
        // Only a notice: Windows starts an unsigned program, if more warily.
        {Package(DO::Installed, ProgramHead(0, 0), 9000), kNotice, "no Authenticode signature"},
        // A package that arrived whole is examined, whatever the signature says.
        {Package(DO::SignatureInvalid, "M", 9000), kProblem, "not a Windows executable"},
        // Whether a player whose connection drops can go on.
        {Package(DO::Installed, kSignedProgram, 9000, Served([](TransferInfo& f) { f.etags = {"W/\"1\""}; })),
         kNotice, "no strong validator (an ETag not marked W/"},
        {Package(DO::Installed, kSignedProgram, 9000, Served([](TransferInfo& f) { f.etags.clear(); })), kNotice,
         "starts again from the first byte"},
        {Package(DO::Installed, kSignedProgram, 9000, Served([](TransferInfo& f) {
             f.etags.clear();
             f.lastModified = "Sun, 06 Nov 1994 08:49:37 GMT";
             f.date = "Sun, 06 Nov 1994 08:49:39 GMT";
         })),
         kNotice, nullptr},
        {Package(DO::Installed, kSignedProgram, 9000, Served([](TransferInfo& f) { f.acceptRanges = "none"; })),
         kNotice, "does not say Accept-Ranges: bytes"},
        {Package(DO::Installed, kSignedProgram, 9000, Served([](TransferInfo& f) { f.acceptRanges = "Bytes"; })),
         kNotice, nullptr},
        {Package(DO::ResumeRefused, "", 4000), kProblem,
         "broke off after 4,000 bytes, and the server answered the request for the rest (Range, If-Range) with "
         "HTTP 416"},
    });
}

TEST(CheckPackageRules, FixesSayWhatToRun)
{
    ExpectFirstFix({
        {{"update.exe",
          [](Warnings& w) {
              CheckPackageLayout(
                  PackageFacts{PackageDownload{DownloadOutcome::Installed, 100000, Fetch(100000), Fetch(), 0, {}},
                               kSignedPackage, true},
                  w);
          }},
         "upload update.exe again, whole, and compare update.exe as served with the signed file you uploaded"},
    });
}

// Only a certificate table that the optional header names counts; any head cut
// short before its entry, or malformed, reads as a program without one. The
// section table after it need not be in the head.
TEST(CheckPackageHead, CertificateTable)
{
    const std::string sectionTableBeyond = LaidOutProgram(std::vector<Section>(100, {0x400, 0x200}), 0x5000, 3000);
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
        {"section table beyond the head", sectionTableBeyond.substr(0, 4096), true},
    };
    for (const auto& c : cases) {
        const std::optional<PeLayout> layout = ReadPeLayout(c.head);
        EXPECT_EQ(layout && layout->NamesCertificateTable(), c.table) << c.name;
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
            PackageFacts{PackageDownload{c.outcome, c.received, Fetch(c.received), Fetch(), 0, {}}, c.head, true}, warnings);
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

} // namespace
