// What a broken or hostile update server, or a busy machine, can do to the
// transfers: each fault has a defined outcome, bounded in time and memory,
// and a failed download never touches the package already in the folder.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <climits>

#include "bytes_equal.h"
#include "script_server.h"
#include "test_folder.h"
#include "update_source.h"
#include "version.h"
#include "version_info.h"

namespace {

const std::string kVersionPath = "/game/veltrassa_01/update/version.dat";
const std::string kNewsPath = "/game/veltrassa_01/update/text.txt";
const std::string kPackagePath = "/game/veltrassa_01/update/update.exe";
const std::string kNoNews = "ニュースはありません";
const std::string kOldPackage = "MZ old package left by an earlier run";
constexpr size_t kNewsCap = 1024 * 1024;

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ScriptServer::Handler Raw(std::string bytes)
{
    return [bytes](ScriptConnection& c, const HttpRequest&) { c.Send(bytes); };
}

ScriptServer::Handler RedirectTo(const std::string& location)
{
    return [location](ScriptConnection& c, const HttpRequest&) {
        ScriptConnection::Response response;
        response.status = 302;
        response.extraHeaders = "Location: " + location + "\r\n";
        c.Respond(response);
    };
}

class FaultTest : public testing::Test {
protected:
    int FetchLatest()
    {
        CVersionInfo info;
        info.FetchLatest(server.BaseUrl() + "version.dat");
        return info.m_nRemote;
    }
    std::string FetchNewsNow() { return FetchNews(CUpdateSource(server.BaseUrl())); }
    int Download() { return CDownloadJob("update.exe", server.BaseUrl()).Run(); }

    void ExpectOldPackageKept()
    {
        EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), kOldPackage));
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"update.exe"});
    }

    TestFolder folder;
    ScriptServer server;
};

TEST_F(FaultTest, TrickledBodiesArriveWhole)
{
    const std::string news = "お知らせ\r\nメンテナンスは終了しました。\r\n";
    const std::string package = PackageBytes(3000, 11);
    server.OnResponse(kVersionPath, ScriptConnection::Pieces("version=1,5;", 3, 40));
    server.OnResponse(kNewsPath, ScriptConnection::Pieces(news, 5, 5));
    server.OnResponse(kPackagePath, ScriptConnection::Pieces(package, 7, 1));
    EXPECT_EQ(FetchLatest(), 1005);
    EXPECT_TRUE(SameBytes(FetchNewsNow(), news));
    EXPECT_EQ(Download(), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
}

TEST_F(FaultTest, ChunkedVersionFile)
{
    server.OnResponse(kVersionPath, ScriptConnection::Pieces("version=2,3;", 4, 0, true));
    EXPECT_EQ(FetchLatest(), 2003);
}

TEST_F(FaultTest, ContentLengthLargerThanBody)
{
    WriteWholeFile("update.exe", kOldPackage);
    server.On(kVersionPath, Raw("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\nversion=1,5;"));
    server.On(kNewsPath, Raw("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\nshort news"));
    server.On(kPackagePath, Raw("HTTP/1.1 200 OK\r\nContent-Length: 400\r\n\r\nMZ short"));
    EXPECT_EQ(FetchLatest(), 1005);
    EXPECT_EQ(FetchNewsNow(), "short news");
    EXPECT_NE(Download(), 0);
    ExpectOldPackageKept();
}

TEST_F(FaultTest, ContentLengthSmallerThanBodyFailsDownload)
{
    WriteWholeFile("update.exe", kOldPackage);
    server.On(kNewsPath, Raw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nnews and more"));
    server.On(kPackagePath, Raw("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nMZ1234 trailing junk"));
    // News is shown as it comes; a package that is not what was announced is refused.
    EXPECT_EQ(FetchNewsNow().substr(0, 4), "news");
    EXPECT_NE(Download(), 0);
    ExpectOldPackageKept();
}

TEST_F(FaultTest, RedirectWithinServerIsFollowed)
{
    const std::string package = PackageBytes(20000, 12);
    server.On(kVersionPath, RedirectTo("/moved/version.dat"));
    server.On(kNewsPath, RedirectTo("/moved/text.txt"));
    server.On(kPackagePath, RedirectTo("/moved/update.exe"));
    server.OnFile("/moved/version.dat", "version=1,7;");
    server.OnFile("/moved/text.txt", "moved news");
    server.OnFile("/moved/update.exe", package);
    EXPECT_EQ(FetchLatest(), 1007);
    EXPECT_EQ(FetchNewsNow(), "moved news");
    EXPECT_EQ(Download(), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
}

TEST_F(FaultTest, RedirectToMissingFileFails)
{
    WriteWholeFile("update.exe", kOldPackage);
    server.On(kPackagePath, RedirectTo("/nowhere/update.exe"));
    server.On(kNewsPath, RedirectTo("/nowhere/text.txt"));
    EXPECT_NE(Download(), 0);
    EXPECT_EQ(FetchNewsNow(), kNoNews);
    ExpectOldPackageKept();
}

TEST_F(FaultTest, RedirectLoopFailsAfterTenRedirects)
{
    WriteWholeFile("update.exe", kOldPackage);
    for (const std::string& path : {kVersionPath, kNewsPath, kPackagePath})
        server.On(path, RedirectTo(path));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchLatest(), 0);
    EXPECT_EQ(FetchNewsNow(), kNoNews);
    EXPECT_NE(Download(), 0);
    EXPECT_LT(SecondsSince(start), 10.0);
    ExpectOldPackageKept();
    // Each transfer: the first request and ten redirects.
    EXPECT_EQ(server.Requests().size(), 3u * 11u);
}

struct BrokenAnswer {
    const char* name;
    const char* bytes;
    std::string news;
};

TEST_F(FaultTest, EmptyPackageIsRefused)
{
    WriteWholeFile("update.exe", kOldPackage);
    server.OnFile(kPackagePath, "");
    EXPECT_NE(Download(), 0);
    ExpectOldPackageKept();
}

class BrokenAnswerTest : public FaultTest, public testing::WithParamInterface<BrokenAnswer> {};

TEST_P(BrokenAnswerTest, FailsCleanly)
{
    WriteWholeFile("update.exe", kOldPackage);
    for (const std::string& path : {kVersionPath, kNewsPath, kPackagePath})
        server.On(path, Raw(GetParam().bytes));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchLatest(), 0);
    EXPECT_EQ(FetchNewsNow(), GetParam().news);
    EXPECT_NE(Download(), 0);
    EXPECT_LT(SecondsSince(start), 20.0);
    ExpectOldPackageKept();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BrokenAnswerTest,
    testing::Values(BrokenAnswer{"closed before any header", "", kNoNews},
                    BrokenAnswer{"malformed status line", "HTTQ/9 abc\r\n\r\nversion=1,5;", kNoNews},
                    BrokenAnswer{"no status line at all", "version=1,5;\r\n", kNoNews},
                    BrokenAnswer{"status line only, then closed", "HTTP/1.1 200 OK\r\n", kNoNews},
                    BrokenAnswer{"no header lines", "HTTP/1.1 200 OK\r\n\r\nversion=1,5;", kNoNews},
                    BrokenAnswer{"error status with version body",
                                 "HTTP/1.1 503 Busy\r\nContent-Length: 12\r\n\r\nversion=1,5;", kNoNews}),
    [](const testing::TestParamInfo<BrokenAnswer>& info) { return "Case" + std::to_string(info.index); });

TEST_F(FaultTest, GarbageAndLongVersionFilesGiveDefinedValues)
{
    std::string garbage;
    for (int i = 1; i <= 4096; ++i)
        garbage += static_cast<char>((i * 7919) % 256);
    server.OnFile(kVersionPath, garbage);
    // Whatever the bytes, the value is what their first 255 give.
    EXPECT_EQ(FetchLatest(), ParseVersionFile(garbage.substr(0, 255)));

    server.OnFile(kVersionPath, "version=1," + std::string(100000, '9') + ";");
    EXPECT_EQ(FetchLatest(), INT_MAX);

    server.OnFile(kVersionPath, std::string(100000, 'v') + "=3,4;");
    EXPECT_EQ(FetchLatest(), 0);
}

// Peak committed memory of this process, in bytes.
size_t PeakCommit()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage;
}

TEST_F(FaultTest, LargeNewsIsCappedInMemoryAndTime)
{
    const std::string body(10 * 1024 * 1024, 'n');
    server.OnFile(kNewsPath, body);
    size_t peakBefore = PeakCommit();
    auto start = std::chrono::steady_clock::now();
    std::string news = FetchNewsNow();
    EXPECT_LT(SecondsSince(start), 20.0);
    EXPECT_EQ(news.size(), kNewsCap);
    EXPECT_EQ(news.find_first_not_of('n'), std::string::npos);
    EXPECT_LT(PeakCommit() - peakBefore, 8u * 1024 * 1024);
}

TEST_F(FaultTest, EndlessNewsStopsAtCap)
{
    server.On(kNewsPath, [](ScriptConnection& c, const HttpRequest&) {
        c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        const std::string block(64 * 1024, 'e');
        // Bounded: at most 256 MiB, far beyond the cap.
        for (int i = 0; i < 4096 && c.Send(block); ++i) {
        }
    });
    auto start = std::chrono::steady_clock::now();
    std::string news = FetchNewsNow();
    EXPECT_LT(SecondsSince(start), 20.0);
    EXPECT_EQ(news.size(), kNewsCap);
}

TEST_F(FaultTest, PackageOpenElsewhereCannotBeReplaced)
{
    WriteWholeFile("update.exe", kOldPackage);
    server.OnFile(kPackagePath, PackageBytes(5000, 13));
    // Another program holds the package open without sharing deletion, as a
    // virus scanner or a running package does.
    HANDLE held = CreateFileA("update.exe", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    int result = Download();
    CloseHandle(held);
    EXPECT_NE(result, 0);
    ExpectOldPackageKept();
}

} // namespace
