// The facts the checker's rules are run over in the host tests: transfers,
// answers and program heads as the updater's code would report them, each
// rule over one server file's facts, and the runners of the rules' tables.
// The host tests take what the Wine rows of checker_test.cpp cannot reach
// cheaply or exactly: failures a scripted server does not produce,
// boundaries, the text analysis and the command line.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "http_answer.h"
#include "news_rules.h"
#include "package_rules.h"
#include "signature_rules.h"
#include "version_rules.h"

inline const std::string kCp932News = "\x82\xa8\x92\x6d\x82\xe7\x82\xb9\r\nNew stage \xb1\xb2"; // お知らせ, ｱｲ

// An answered transfer, as a static file server answers (with a length, its
// ETag and byte ranges), or one that failed with error.
inline TransferInfo Fetch(std::optional<uint64_t> contentLength = std::nullopt,
                          TransferError error = TransferError::None, ClientError systemError = {})
{
    TransferInfo fetch;
    fetch.requestedUrl = fetch.url = "http://h/game/veltrassa_01/update/f";
    fetch.status = error == TransferError::None ? 200u : 0u;
    fetch.error = error;
    fetch.systemError = static_cast<uint32_t>(systemError);
    fetch.contentLength = contentLength;
    if (contentLength)
        fetch.contentLengthHeaders = {std::to_string(*contentLength)};
    fetch.etags = {"\"5e1b-6568\""};
    fetch.acceptRanges = "bytes";
    return fetch;
}

// A body the updater stopped reading at a bound, after bytes in milliseconds.
inline TransferInfo Bounded(BodyEnd bound, uint64_t bytes, int64_t milliseconds)
{
    TransferInfo fetch = Fetch();
    fetch.bodyEnd = bound;
    fetch.bodyBytes = bytes;
    fetch.bodyTime = std::chrono::milliseconds(milliseconds);
    return fetch;
}

// An answer with these Content-Length values and Content-Encoding.
inline TransferInfo Answer(uint32_t status, std::vector<std::string> lengths, std::string encoding = "")
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
inline std::string ProgramHead(uint32_t tableOffset, uint32_t tableSize, uint16_t magic = 0x10B,
                               uint32_t directories = 16, uint32_t peAt = 0x80)
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

inline const std::string kSignedProgram = ProgramHead(0x3FA00, 4976);

struct Section {
    uint32_t offset, size; // of its data in the file
};

// The first 4096 bytes of a PE32 program with these sections and certificate
// table, its headers laid out as a linker lays them out.
inline std::string LaidOutProgram(std::vector<Section> sections, uint32_t tableOffset = 0, uint32_t tableSize = 0)
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
inline const std::vector<Section> kPackageSections = {{0x400, 0x1000}, {0x1400, 0x2E000}, {0x2F400, 0x800}};
inline const std::string kSignedPackage = LaidOutProgram(kPackageSections, 0x3EC00, 0x1400);
inline constexpr uint64_t kSignedPackageBytes = 0x40000;

// One rule run over the facts of one server file, and the file its warnings name.
struct Rule {
    const char* file;
    std::function<void(Warnings&)> run;
};

// read: a read succeeded, and body is what it gathered.
inline Rule Version(std::string body, TransferInfo fetch = Fetch(), bool read = true)
{
    std::optional<std::string> read_ = read ? std::optional(body) : std::nullopt;
    return {"version.dat", [=](Warnings& w) { CheckVersionFile(VersionFileFetch{read_, fetch}, w); }};
}

// fetch: by default a whole answer with its length.
inline Rule News(std::string news, std::optional<TransferInfo> given = {}, bool defined = true,
                 size_t cap = 1024 * 1024)
{
    const TransferInfo fetch = given.value_or(Fetch(news.size()));
    std::optional<std::string> fetched = fetch.error == TransferError::None ? std::optional(news) : std::nullopt;
    return {"text.txt", [=](Warnings& w) { CheckNews(NewsFacts{NewsFetch{fetched, fetch}, defined, cap}, w); }};
}

inline Rule Package(DownloadOutcome outcome, std::string head = "", uint64_t received = 0,
                    TransferInfo fetch = Fetch(9000), bool signed_ = false)
{
    return {"update.exe", [=](Warnings& w) {
                PackageDownload download;
                download.outcome = outcome;
                download.received = received;
                download.transfer = fetch;
                download.signature = Fetch();
                download.lastRange.status = 416;
                CheckPackage(PackageFacts{download, head, signed_}, w);
            }};
}

// The package served against the publisher's copy, each of this size and digest.
inline Rule Copy(uint64_t servedSize, const char* servedSha256, uint64_t copySize, const char* copySha256)
{
    return {"update.exe", [=](Warnings& w) {
                CheckPackageCopy(FileSummary{servedSize, servedSha256}, "dist\\update.exe",
                                 FileSummary{copySize, copySha256}, w);
            }};
}

// The download with the key, stopped by the signature (the package not
// requested) or, with received, after the package's body.
inline PackageDownload Signed(DownloadOutcome outcome, TransferInfo signature = Fetch(), uint64_t received = 0)
{
    PackageDownload download;
    download.outcome = outcome;
    download.received = received;
    download.transfer = received ? Fetch(received) : TransferInfo();
    download.signature = signature;
    return download;
}

inline Rule Signature(DownloadOutcome outcome, TransferInfo fetch = Fetch(), uint64_t received = 0)
{
    return {"update.exe.sig", [=](Warnings& w) { CheckSignature(Signed(outcome, fetch, received), w); }};
}

// A rule and the one warning it must give.
struct OneWarning {
    Rule rule;
    Severity severity;
    const char* cause; // part of the cause of the one warning; nullptr: no warning at all
};

inline void ExpectOneWarning(const std::vector<OneWarning>& cases)
{
    for (const OneWarning& c : cases) {
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

// A rule and part of the fix of its first warning, for the fixes that carry a
// command or an order of steps.
struct FirstFix {
    Rule rule;
    const char* fix;
};

inline void ExpectFirstFix(const std::vector<FirstFix>& cases)
{
    for (const FirstFix& c : cases) {
        Warnings warnings;
        c.rule.run(warnings);
        ASSERT_FALSE(warnings.empty()) << c.fix;
        EXPECT_NE(warnings[0].fix.find(c.fix), std::string::npos) << warnings[0].fix;
    }
}
