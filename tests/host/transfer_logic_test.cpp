// What the transfers take from an answer's head, their progress floor, the
// progress line of a download and the rules of its resumption.
#include "chaos_cases.h"
#include "download_progress.h"
#include "resume.h"
#include "transfer_facts.h"
#include "http_answer.h"
#include "length_framing.h"
#include "transfer_bounds.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(DownloadProgress, SizesAsWindowsShowsThemAndAPercentageThatWaitsForTheEnd)
{
    constexpr uint64_t MiB = 1024 * 1024;
    const struct {
        uint64_t received;
        std::optional<uint64_t> total;
        const char* line;
    } cases[] = {
        {0, std::nullopt, "0 bytes"},
        {1, std::nullopt, "1 byte"},
        {1023, std::nullopt, "1023 bytes"},
        {1024, std::nullopt, "1.0 KB"},
        {1024 * 1024 - 1, std::nullopt, "1023.9 KB"}, // cut, never rounded up to 1024.0
        {12 * MiB + 3 * MiB / 10 + 1, std::nullopt, "12.3 MB"},
        {uint64_t{5} * 1024 * MiB + 512 * MiB, std::nullopt, "5.5 GB"},
        {UINT64_MAX, std::nullopt, "16777215.9 TB"},
        {12 * MiB + 3 * MiB / 10 + 1, 200 * MiB, "12.3 MB / 200.0 MB (6 %)"},
        {0, 1843200, "0 bytes / 1.7 MB (0 %)"},
        {1843199, 1843200, "1.7 MB / 1.7 MB (99 %)"}, // one byte short is not 100 %
        {1843200, 1843200, "1.7 MB / 1.7 MB (100 %)"},
        {7000, 5000, "6.8 KB / 4.8 KB (100 %)"},       // more than announced
        {3, 0, "3 bytes"},                             // an announced 0 gives no share
        {UINT64_MAX - 1, UINT64_MAX, "16777215.9 TB / 16777215.9 TB (99 %)"},
        {UINT64_MAX / 2, UINT64_MAX, "8388607.9 TB / 16777215.9 TB (49 %)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.received));
        EXPECT_EQ(FormatDownloadProgress(c.received, c.total), c.line);
    }
}

TEST(HttpDate, TheThreeFormsAndNothingElse)
{
    constexpr int64_t kNov6 = 784111777; // 1994-11-06 08:49:37 UTC
    const struct {
        const char* text;
        std::optional<int64_t> seconds;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", kNov6},
        {"Sunday, 06-Nov-94 08:49:37 GMT", kNov6},
        {"Sun Nov  6 08:49:37 1994", kNov6},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Tue, 29 Feb 2028 23:59:60 GMT", 1835481600}, // a leap day and a leap second
        {"Wednesday, 09-Dec-26 07:33:17 GMT", 1796801597},
        {"Wed, 31 Dec 1969 23:59:59 GMT", -1},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT ", std::nullopt},
        {"Sun, 06 Nov 1994 8:49:37 GMT", std::nullopt},
        {"Mon, 29 Feb 2027 00:00:00 GMT", std::nullopt}, // not a leap year
        {"Sun, 31 Apr 1994 00:00:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Sun, 06 Nox 1994 08:49:37 GMT", std::nullopt},
        {"Sun Nov 6 08:49:37 1994", std::nullopt},
        {"1994-11-06T08:49:37Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseHttpDate(c.text), c.seconds);
    }
}

TEST(Resume, OnlyAStrongValidatorLetsADownloadGoOn)
{
    const std::string modified = "Sun, 06 Nov 1994 08:49:37 GMT";
    const struct {
        std::vector<std::string> etags;
        std::string lastModified, date;
        std::optional<std::string> validator;
    } cases[] = {
        {{"\"6568-5e1b\""}, modified, "Sun, 06 Nov 1994 08:49:37 GMT", "\"6568-5e1b\""},
        {{"\"\""}, "", "", "\"\""},
        {{"W/\"6568-5e1b\""}, modified, "Mon, 07 Nov 1994 08:49:37 GMT", std::nullopt}, // weak: no fallback
        {{"6568-5e1b"}, "", "", std::nullopt},                                       // not quoted
        {{"\"a b\""}, "", "", std::nullopt},
        {{"\"a\"", "\"b\""}, "", "", std::nullopt},
        {{}, modified, "Sun, 06 Nov 1994 08:49:38 GMT", modified},
        {{}, modified, "Sunday, 06-Nov-94 08:50:00 GMT", modified},
        {{}, modified, "Sun, 06 Nov 1994 08:49:37 GMT", std::nullopt}, // within its second
        {{}, modified, "Sun, 06 Nov 1994 08:49:36 GMT", std::nullopt},
        {{}, modified, "", std::nullopt},
        {{}, "yesterday", "Sun, 06 Nov 1994 08:49:38 GMT", std::nullopt},
        {{}, "", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.etags) + " " + c.lastModified + " / " + c.date);
        EXPECT_EQ(StrongValidator(c.etags, c.lastModified, c.date), c.validator);
    }
    EXPECT_EQ(ResumeHeaders(4242, "\"x\""), "Range: bytes=4242-\r\nIf-Range: \"x\"\r\n");
}

TEST(Resume, OnlyExactlyTheRestAskedForIsTaken)
{
    const std::vector<std::string> etag = {"\"v1\""};
    auto answer = [](uint32_t status, std::vector<std::string> ranges, std::vector<std::string> lengths) {
        TransferInfo info;
        info.status = status;
        info.contentRanges = std::move(ranges);
        info.contentLengthHeaders = std::move(lengths);
        AnnouncedLength length = ParseContentLength(info.contentLengthHeaders);
        info.contentLength = length.value;
        info.contentLengthMalformed = length.malformed;
        return info;
    };
    const TransferInfo rest = answer(206, {"bytes 400-999/1000"}, {"600"});
    auto with = [&rest](auto change) {
        TransferInfo info = rest;
        change(info);
        return info;
    };
    const struct {
        const char* name;
        TransferInfo info;
        RangeAnswer verdict;
    } cases[] = {
        {"the rest", rest, RangeAnswer::Rest},
        {"the rest, same ETag", with([&](TransferInfo& i) { i.etags = etag; }), RangeAnswer::Rest},
        {"a new whole file", answer(200, {}, {"1234"}), RangeAnswer::Whole},
        {"another ETag", with([](TransferInfo& i) { i.etags = {"\"v2\""}; }), RangeAnswer::Wrong},
        {"starts elsewhere", answer(206, {"bytes 0-999/1000"}, {"1000"}), RangeAnswer::Wrong},
        {"another total", answer(206, {"bytes 400-1199/1200"}, {"800"}), RangeAnswer::Wrong},
        {"ends early", answer(206, {"bytes 400-899/1000"}, {"500"}), RangeAnswer::Wrong},
        {"unknown total", answer(206, {"bytes 400-999/*"}, {"600"}), RangeAnswer::Wrong},
        {"another length", answer(206, {"bytes 400-999/1000"}, {"601"}), RangeAnswer::Wrong},
        {"no length", answer(206, {"bytes 400-999/1000"}, {}), RangeAnswer::Wrong},
        {"two ranges", answer(206, {"bytes 400-999/1000", "bytes 400-999/1000"}, {"600"}), RangeAnswer::Wrong},
        {"another unit", answer(206, {"items 400-999/1000"}, {"600"}), RangeAnswer::Wrong},
        {"signed numbers", answer(206, {"bytes +400-999/1000"}, {"600"}), RangeAnswer::Wrong},
        {"multipart", with([](TransferInfo& i) { i.contentType = "multipart/byteranges; boundary=x"; }),
         RangeAnswer::Wrong},
        {"chunked", with([](TransferInfo& i) { i.transferEncoding = "chunked"; }), RangeAnswer::Wrong},
        {"compressed", with([](TransferInfo& i) { i.contentEncoding = "gzip"; }), RangeAnswer::Wrong},
        {"not satisfiable", answer(416, {"bytes */1000"}, {"0"}), RangeAnswer::Wrong},
        {"not found", answer(404, {}, {"9"}), RangeAnswer::Wrong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(JudgeRangeAnswer(c.info, 400, 1000, etag), c.verdict);
    }
    EXPECT_EQ(JudgeRangeAnswer(answer(206, {"bytes 1000-999/1000"}, {"0"}), 1000, 1000, etag), RangeAnswer::Wrong);
}

TEST(ContentLength, OnlyOnePlainLengthIsAnnounced)
{
    const struct {
        std::vector<std::string> values;
        std::optional<uint64_t> length;
        bool malformed;
    } cases[] = {
        {{}, std::nullopt, false},
        {{"0"}, 0, false},
        {{"4294967311"}, 4294967311u, false}, // beyond 32 bits
        {{"18446744073709551615"}, UINT64_MAX, false},
        {{"9000", "9000"}, 9000, false},
        {{"18446744073709551616"}, std::nullopt, true},
        {{"+9000"}, std::nullopt, true},
        {{"-1"}, std::nullopt, true},
        {{"9000, 9000"}, std::nullopt, true},
        {{"0x10"}, std::nullopt, true},
        {{""}, std::nullopt, true},
        {{"9000", "4500"}, std::nullopt, true},
        {{"9000", "abc"}, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.values));
        AnnouncedLength length = ParseContentLength(c.values);
        EXPECT_EQ(length.value, c.length);
        EXPECT_EQ(length.malformed, c.malformed);
    }
}

TEST(LengthFraming, OnlyOnePlainLengthWithoutTransferEncodingFramesTheBody)
{
    const struct {
        std::vector<std::string> values;
        const char* transferEncoding;
        bool framed;
    } cases[] = {
        {{"9000"}, "", true},
        {{"0"}, "", true},
        {{}, "", false},                  // ended by closing the connection
        {{}, "chunked", false},
        {{"9000"}, "chunked", false},     // chunked framing overrides the length
        {{"9000"}, "gzip, chunked", false},
        {{"9000", "9000"}, "", false},    // not exactly one
        {{"+9000"}, "", false},
        {{"9000, 9000"}, "", false},
        {{std::string(300, '0') + "9000"}, "", true}, // a padded length is still one plain length
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.values) + " " + c.transferEncoding);
        EXPECT_EQ(FramedByOneLength(c.values, c.transferEncoding), c.framed);
    }
}

// The chaos server's draw: every misbehaviour met by every file within a
// longer run's worth of cases, and another seed another draw. What each
// must give is checked against the real programs (tests/win/chaos_test.cpp).
TEST(ChaosCases, DrawEveryMisbehaviourForEveryFile)
{
    bool met[3][kMisbehaviourCount] = {};
    bool differs = false;
    for (uint64_t index = 0; index < 400; ++index) {
        ChaosCase c = DrawCase(7, index);
        met[0][static_cast<int>(c.version)] = met[1][static_cast<int>(c.news)] =
            met[2][static_cast<int>(c.package)] = true;
        ChaosCase other = DrawCase(8, index);
        differs = differs || other.version != c.version || other.news != c.news || other.package != c.package;
    }
    EXPECT_TRUE(differs) << "the seed changes nothing";
    for (int file = 0; file < 3; ++file) {
        for (int m = 0; m < kMisbehaviourCount; ++m)
            EXPECT_TRUE(met[file][m]) << file << " never meets " << MisbehaviourName(static_cast<Misbehaviour>(m));
    }
}

TEST(ContentEncoding, OnlyNoneOrIdentityIsTheFileAsStored)
{
    for (const char* encoding : {"", "identity", "Identity", "IDENTITY"})
        EXPECT_TRUE(IsIdentityEncoding(encoding)) << encoding;
    for (const char* encoding : {"gzip", "br", "deflate", "identity, gzip", "identit", "identityx", "x-gzip"})
        EXPECT_FALSE(IsIdentityEncoding(encoding)) << encoding;
}

// A download that receives rate(second) bytes in each second, read four
// times a second as a steady line gives them, against the floor of 32 KiB in
// 30 s: the second at which the floor gives way, or -1 when it holds for 15 minutes.
TEST(ProgressFloor, GivesWayOnlyWhenAnyWindowBringsTooLittle)
{
    const struct {
        const char* name;
        int (*rate)(int second);
        int gives;
    } cases[] = {
        {"steady, just above the floor", [](int) { return 1200; }, -1},
        {"four bytes a second", [](int) { return 4; }, 30},
        {"nothing after a fast start", [](int s) { return s < 5 ? 100000 : 0; }, 35},
        {"a stall of 25 s between bursts", [](int s) { return s % 30 < 5 ? 40000 : 0; }, -1},
        {"a stall of 31 s after ten good minutes", [](int s) { return s < 600 || s > 631 ? 50000 : 0; }, 631},
    };
    for (const auto& c : cases) {
        CProgressFloor floor;
        uint64_t received = 0;
        int gives = floor.Holds(0, std::chrono::milliseconds(0)) ? -1 : 0;
        for (int quarter = 1; gives < 0 && quarter <= 900 * 4; ++quarter) {
            received += c.rate((quarter - 1) / 4) / 4;
            if (!floor.Holds(received, std::chrono::milliseconds(quarter * 250)))
                gives = quarter / 4;
        }
        EXPECT_GE(gives, c.gives < 0 ? -1 : c.gives - 1) << c.name;
        EXPECT_LE(gives, c.gives < 0 ? -1 : c.gives + 1) << c.name;
    }
}

} // namespace
