// The three transfers (version file, news, package) against servers that
// answer well, badly or not at all: one row per server behaviour, each
// checked for what every transfer makes of it.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

#include "bytes_equal.h"
#include "script_server.h"
#include "test_files.h"
#include "update_source.h"
#include "version_info.h"

namespace {

const std::string kVersionPath = "/game/veltrassa_01/update/version.dat";
const std::string kNewsPath = "/game/veltrassa_01/update/text.txt";
const std::string kPackagePath = "/game/veltrassa_01/update/update.exe";
const std::string kPaths[] = {kVersionPath, kNewsPath, kPackagePath};
const std::string kOldPackage = "MZ old package left by an earlier run";
constexpr size_t kNewsCap = 1024 * 1024;

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// News as the publisher writes it: code page 932 with CRLF line ends.
std::string LongNews()
{
    std::string news;
    for (int line = 0; news.size() < 5000; ++line)
        news += "お知らせ " + std::to_string(line) + ": 新しいステージを追加しました。\r\n";
    return news;
}

const std::string kPackage = PackageBytes(300 * 1024 + 17, 1);
// A body that is a version file, news and the start of a package at once.
const std::string kWholeBody = "version=1,5; MZ, and the rest.";
const std::string kHalfBody = kWholeBody.substr(0, 15);
// A version file, news and a package of realistic size at once.
const std::string kLongBody = "version=1,5; " + kPackage;
const size_t kCutAt60Percent = kLongBody.size() * 6 / 10;

// Header values longer than any fixed buffer would hold.
std::string PaddedLength(size_t length)
{
    std::string digits = std::to_string(length);
    return std::string(300 - digits.size(), '0') + digits;
}
std::string LongEncodingList()
{
    std::string list = "gzip";
    while (list.size() < 300)
        list += ", identity";
    return list;
}

ScriptServer::Handler Raw(std::string bytes)
{
    return [bytes](ScriptConnection& c, const HttpRequest&) { c.Send(bytes); };
}

// The file, on a connection kept alive; the next request sent on it is
// dropped unanswered, as by a load balancer whose idle timeout strikes just
// as it arrives.
ScriptServer::Handler KeptAliveThenDropped(std::string body, bool reset)
{
    return [body, reset](ScriptConnection& c, const HttpRequest&) {
        ScriptConnection::Response response;
        response.body = body;
        response.keepAlive = true;
        c.Respond(response);
        if (c.NextRequest() && reset)
            c.Reset();
    };
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

// The three files answered the same way.
std::function<void(ScriptServer&)> AllAnswer(ScriptServer::Handler handler)
{
    return [handler](ScriptServer& server) {
        for (const std::string& path : kPaths)
            server.On(path, handler);
    };
}

ScriptServer::Handler StatusLineThen(std::string headers, std::string body, int pauseMs = 0)
{
    return [=](ScriptConnection& c, const HttpRequest&) {
        c.Send("HTTP/1.1 200 OK\r\n" + headers + "Connection: close\r\n\r\n");
        c.Send(body);
        c.Pause(pauseMs);
    };
}

enum class Where { Server, ClosedPort, OverlongUrl };

struct ServerCase {
    const char* name;
    std::function<void(ScriptServer&)> serve;
    int version;                        // what FetchLatest gives
    std::string news;                   // what the news box shows: FetchNews's news, or kNoNews
    std::optional<std::string> package; // installed, or nothing: the old package kept
    size_t requests = 3;                // reaching the server, for the three transfers
    Where where = Where::Server;
    size_t newsAtLeast = std::string::npos; // set: news may be any prefix of news this long or longer
    // Seconds each transfer (version file, news, package) takes at least and
    // at most.
    std::array<double, 3> atLeast = {0, 0, 0};
    std::array<double, 3> atMost = {7, 7, 7};
};

void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

class ServerTest : public testing::TestWithParam<ServerCase> {
protected:
    CTemporaryWorkingFolder folder{kTestFolderPrefix};
    ScriptServer server;
};

TEST_P(ServerTest, EveryTransferTakesItsOutcome)
{
    const ServerCase& c = GetParam();
    ASSERT_TRUE(server.Listening());
    if (c.serve)
        c.serve(server);
    std::string base = server.BaseUrl();
    if (c.where == Where::ClosedPort)
        base = "http://127.0.0.1:" + std::to_string(ScriptServer::ClosedPort()) + kUpdatePath;
    if (c.where == Where::OverlongUrl)
        base += std::string(250, 'x') + "/";
    WriteWholeFile("update.exe", kOldPackage);

    auto timed = [&](size_t which, auto transfer) {
        auto start = std::chrono::steady_clock::now();
        transfer();
        double seconds = SecondsSince(start);
        EXPECT_GE(seconds, c.atLeast[which]) << kPaths[which];
        EXPECT_LT(seconds, c.atMost[which]) << kPaths[which];
    };
    CVersionInfo info;
    info.m_nRemote = 4242;
    timed(0, [&] { info.FetchLatest(base + "version.dat"); });
    EXPECT_EQ(info.m_nRemote, c.version);
    NewsFetch newsFetch;
    timed(1, [&] { newsFetch = FetchNews(CUpdateSource(base)); });
    const std::string news = newsFetch.news.value_or(kNoNews);
    // What the checker reports: a transfer that delivered reports no error,
    // whatever a first attempt met.
    if (newsFetch.news) {
        EXPECT_EQ(newsFetch.transfer.error, TransferError::None);
    }
    if (c.newsAtLeast == std::string::npos) {
        EXPECT_TRUE(SameBytes(news, c.news));
    } else {
        EXPECT_GE(news.size(), c.newsAtLeast);
        EXPECT_TRUE(SameBytes(news, c.news.substr(0, news.size())));
    }
    PackageDownload download;
    timed(2, [&] { download = CDownloadJob("update.exe", base).Run(); });
    EXPECT_EQ(download.outcome == DownloadOutcome::Installed, c.package.has_value());
    if (download.outcome == DownloadOutcome::Installed) {
        EXPECT_EQ(download.transfer.error, TransferError::None);
    }
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), c.package.value_or(kOldPackage)));
    EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"update.exe"}) << "a temporary file was left";

    // Each request exactly as the server receives it, whatever the
    // client's settings: no header but these.
    std::vector<HttpRequest> requests = server.Requests();
    EXPECT_EQ(requests.size(), c.requests);
    for (const HttpRequest& request : requests) {
        EXPECT_EQ(request.head, "GET " + request.path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                    std::to_string(server.Port()) + "\r\nUser-Agent: update_harun_tesly\r\n");
    }
}

const std::string kNews = LongNews();

INSTANTIATE_TEST_SUITE_P(
    Answers, ServerTest,
    testing::Values(
        ServerCase{"trickled_in_pieces",
                   [](ScriptServer& s) {
                       s.OnResponse(kVersionPath, ScriptConnection::Pieces("version=1,5;", 3, 40));
                       s.OnResponse(kNewsPath, ScriptConnection::Pieces(kNews, 700, 30));
                       s.OnResponse(kPackagePath, ScriptConnection::Pieces(kPackage, 4000, 1));
                   },
                   1005, kNews, kPackage},
        ServerCase{"chunked",
                   [](ScriptServer& s) {
                       s.OnResponse(kVersionPath, ScriptConnection::Pieces("version=2,3;", 4, 0, true));
                       s.OnResponse(kNewsPath, ScriptConnection::Pieces(kNews, 333, 0, true));
                       s.OnResponse(kPackagePath, ScriptConnection::Pieces(kPackage, 1500, 0, true));
                   },
                   2003, kNews, std::nullopt},
        // An empty package is never valid: it is what a dropped connection leaves.
        ServerCase{"empty_bodies", AllAnswer(StatusLineThen("Content-Length: 0\r\n", "")), 0, "", std::nullopt},
        ServerCase{"only_the_first_255_bytes_count",
                   [](ScriptServer& s) { s.OnFile(kVersionPath, std::string(251, 'k') + "=1,23;"); }, 1002,
                   kNoNews, std::nullopt},
        ServerCase{"nothing_listening", nullptr, 0, kNoNews, std::nullopt, 0, Where::ClosedPort},
        ServerCase{"overlong_url", nullptr, 0, kNoNews, std::nullopt, 0, Where::OverlongUrl},
        ServerCase{"not_found_with_bodies", AllAnswer([](ScriptConnection& c, const HttpRequest&) {
                       ScriptConnection::Response response;
                       response.status = 404;
                       response.body = "version=9,9;";
                       c.Respond(response);
                   }),
                   0, kNoNews, std::nullopt},
        ServerCase{"server_error", AllAnswer(Raw("HTTP/1.1 500 Oops\r\nContent-Length: 12\r\n\r\nversion=1,5;")), 0,
                   kNoNews, std::nullopt},
        ServerCase{"redirect_without_target", AllAnswer(Raw("HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n")), 0,
                   kNoNews, std::nullopt},
        ServerCase{"closed_before_any_header", AllAnswer(Raw("")), 0, kNoNews, std::nullopt},
        ServerCase{"malformed_status_line", AllAnswer(Raw("HTTQ/9 abc\r\n\r\nversion=1,5;")), 0, kNoNews,
                   std::nullopt},
        // Wine's client makes up a status for a bare body; every real answer has header lines.
        ServerCase{"bare_body", AllAnswer(Raw("version=1,5;\r\n")), 0, kNoNews, std::nullopt},
        ServerCase{"status_line_then_closed", AllAnswer(Raw("HTTP/1.1 200 OK\r\n")), 0, kNoNews, std::nullopt},
        ServerCase{"no_header_lines", AllAnswer(Raw("HTTP/1.1 200 OK\r\n\r\nversion=1,5;")), 0, kNoNews,
                   std::nullopt},
        ServerCase{"content_length_larger_than_body",
                   AllAnswer(StatusLineThen("Content-Length: 400\r\n", "version=1,5; MZ")), 1005,
                   "version=1,5; MZ", std::nullopt},
        // 2^32 + 15 announced for 15 bytes: a size cut to 32 bits would match them.
        ServerCase{"content_length_over_4_GiB",
                   AllAnswer(StatusLineThen("Content-Length: 4294967311\r\n", "version=1,5; MZ")), 1005,
                   "version=1,5; MZ", std::nullopt},
        // Answers that are not the whole file as stored: the version file and
        // the news take what comes, as ever; no package is taken from them.
        ServerCase{"partial_content",
                   AllAnswer(Raw("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-14/30\r\n"
                                 "Content-Length: 15\r\n\r\n" + kHalfBody)),
                   1005, kHalfBody, std::nullopt},
        ServerCase{"two_content_lengths_smaller_first",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: 15\r\nContent-Length: 30\r\n\r\n" + kWholeBody)),
                   1005, kWholeBody, std::nullopt, 3, Where::Server, kHalfBody.size()},
        ServerCase{"content_length_with_a_sign_cut_at_60_percent",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: +30\r\n\r\n" + kWholeBody.substr(0, 18))), 1005,
                   kWholeBody.substr(0, 18), std::nullopt},
        ServerCase{"content_length_twice_in_one_line_cut_at_60_percent",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: 30, 30\r\n\r\n" + kWholeBody.substr(0, 18))),
                   1005, kWholeBody.substr(0, 18), std::nullopt},
        // Values past 255 characters are read whole: the length is checked,
        // the encoding seen.
        ServerCase{"content_length_of_300_characters_cut_at_60_percent",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: " + PaddedLength(kLongBody.size()) + "\r\n\r\n" +
                                 kLongBody.substr(0, kCutAt60Percent))),
                   1005, kLongBody.substr(0, kCutAt60Percent), std::nullopt},
        ServerCase{"content_encoding_of_300_characters",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Encoding: " + LongEncodingList() +
                                 "\r\nContent-Length: " + std::to_string(kLongBody.size()) + "\r\n\r\n" + kLongBody)),
                   1005, kLongBody, std::nullopt},
        // Not asked for, and not decoded: the bytes are not the file.
        ServerCase{"unasked_content_encoding",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 15\r\n\r\n" +
                                 kHalfBody)),
                   1005, kHalfBody, std::nullopt},
        // Without one length a cut looks like the end, as the client reports
        // it: the unsigned updater takes no package so framed (a signed one
        // does, its signature proving the bytes: download_test.cpp).
        ServerCase{"no_length_http_1_0_cut_at_60_percent",
                   AllAnswer(Raw("HTTP/1.0 200 OK\r\nServer: old\r\n\r\n" + kWholeBody.substr(0, 18))), 1005,
                   kWholeBody.substr(0, 18), std::nullopt},
        ServerCase{"chunked_without_its_last_chunk",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n12\r\n" +
                                 kWholeBody.substr(0, 18) + "\r\n")),
                   1005, kWholeBody.substr(0, 18), std::nullopt},
        ServerCase{"chunk_of_negative_size_after_60_percent",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n12\r\n" +
                                 kWholeBody.substr(0, 18) + "\r\n-5\r\n")),
                   1005, kWholeBody.substr(0, 18), std::nullopt},
        ServerCase{"chunk_longer_than_the_data_before_the_close",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1e\r\n" +
                                 kWholeBody.substr(0, 18))),
                   1005, kWholeBody.substr(0, 18), std::nullopt},
        // A length, and chunked framing that overrides it.
        ServerCase{"chunked_with_a_content_length",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: 18\r\nTransfer-Encoding: chunked\r\n\r\n"
                                 "12\r\n" + kWholeBody.substr(0, 18) + "\r\n0\r\n\r\n")),
                   1005, kWholeBody.substr(0, 18), std::nullopt},
        // A byte a second after the headers: the version file is read for 3 s,
        // the news for 10 s, and the download gives up when fewer than 32 KiB
        // came in 30 s. Each takes what arrived of it by then.
        ServerCase{"dripping_bodies",
                   [](ScriptServer& s) {
                       s.OnResponse(kVersionPath, ScriptConnection::Pieces("version=1,5;" + std::string(300, ' '), 1, 1000));
                       s.OnResponse(kNewsPath, ScriptConnection::Pieces(kNews.substr(0, 3000), 1, 1000));
                       s.OnResponse(kPackagePath, ScriptConnection::Pieces(kPackage.substr(0, 200000), 1, 1000));
                   },
                   0, kNews, std::nullopt, 3, Where::Server, 8, {2.9, 9.9, 29.9}, {5, 12, 35}},
        // Status line and headers a byte a second, never silent: the head
        // is waited for until the start-up's 10 s are up, and for a download
        // until the floor's 30 s pass without a byte of the body.
        ServerCase{"dripping_heads",
                   AllAnswer([](ScriptConnection& c, const HttpRequest&) {
                       const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 12\r\nX-Padding: " +
                                                std::string(100, 'p') + "\r\n\r\nversion=1,5;";
                       for (char byte : head) {
                           if (!c.Send(std::string(1, byte)))
                               return;
                           c.Pause(1000);
                       }
                   }),
                   0, kNoNews, std::nullopt, 3, Where::Server, std::string::npos, {9.9, 9.9, 29.9}, {11, 11, 31}},
        // A server that stops sending: each transfer gives up after the 5 s
        // receive timeout, the news keeping the reads completed before the stall.
        ServerCase{"stall_before_the_headers",
                   AllAnswer([](ScriptConnection& c, const HttpRequest&) { c.Pause(20000); }), 0, kNoNews,
                   std::nullopt, 3, Where::Server, std::string::npos, {4, 4, 4}, {12, 12, 12}},
        ServerCase{"stall_in_the_middle_of_the_body",
                   AllAnswer(StatusLineThen("Content-Length: 5000\r\n", kNews.substr(0, 3000), 20000)), 0,
                   kNews, std::nullopt, 3, Where::Server, 1024, {0, 4, 4}, {12, 12, 12}},
        // News shows as it comes; a package that is not what was announced is refused.
        // The same at a realistic size: the client stops at the length it
        // was given, and nothing tells the rest was there. Only a signature
        // (or the checker's --package) sees it.
        ServerCase{"content_length_smaller_than_a_315_872_byte_body",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: 277743\r\nConnection: close\r\n\r\n" +
                                 (kLongBody + kLongBody).substr(0, 315872))),
                   1005, kLongBody.substr(0, 277743), kLongBody.substr(0, 277743)},
        // What follows the announced length is no part of the answer, as
        // on every Windows: not even when it looks like an answer of its own.
        ServerCase{"content_length_smaller_than_body",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nMZ12 and more")), 0, "MZ12",
                   "MZ12"},
        ServerCase{"second_answer_pipelined_after_the_body",
                   AllAnswer(Raw("HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\n" + kHalfBody +
                                 "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\nPIPELINED-JUNK!")),
                   1005, kHalfBody, kHalfBody},
        ServerCase{"redirect_within_server",
                   [](ScriptServer& s) {
                       for (const std::string& path : kPaths)
                           s.On(path, RedirectTo("/moved/" + path.substr(path.rfind('/') + 1)));
                       s.OnFile("/moved/version.dat", "version=1,7;");
                       s.OnFile("/moved/text.txt", "moved news");
                       s.OnFile("/moved/update.exe", kPackage);
                   },
                   1007, "moved news", kPackage, 6},
        // Each hop's head arrives whole after 3.5 s, so no wait is a drip:
        // the hops count against the start-up's 10 s and the download's
        // floor (nothing in 30 s); the wait for the hop that would end past
        // them ends at them.
        ServerCase{"nine_redirects_each_after_3_5_s",
                   [](ScriptServer& s) {
                       for (const std::string& path : kPaths) {
                           for (int hop = 0; hop < 9; ++hop) {
                               s.On(path + std::string(hop, '+'),
                                    [next = path + std::string(hop + 1, '+')](ScriptConnection& c,
                                                                              const HttpRequest& r) {
                                        c.Pause(3500);
                                        RedirectTo(next)(c, r);
                                    });
                           }
                           s.OnFile(path + std::string(9, '+'), kWholeBody);
                       }
                   },
                   0, kNoNews, std::nullopt, 3 + 3 + 9, Where::Server, std::string::npos, {9.9, 9.9, 29.9},
                   {12.5, 12.5, 34}},
        // Each next request goes out on the connection kept alive, and is
        // dropped, by a reset or a close: sent once more on a fresh
        // connection, it is answered.
        ServerCase{"kept_alive_connection_dropped_as_the_next_request_arrives",
                   [](ScriptServer& s) {
                       s.On(kVersionPath, KeptAliveThenDropped("version=1,7;", true));
                       s.On(kNewsPath, KeptAliveThenDropped(kNews, false));
                       s.OnFile(kPackagePath, kPackage);
                   },
                   1007, kNews, kPackage, 5},
        // Once a byte of the answer came, nothing is sent again.
        ServerCase{"status_line_then_reset",
                   AllAnswer([](ScriptConnection& c, const HttpRequest&) {
                       c.Send("HTTP/1.1 200 OK\r\nContent-Le");
                       c.Pause(200);
                       c.Reset();
                   }),
                   0, kNoNews, std::nullopt},
        ServerCase{"redirect_to_missing_file", AllAnswer(RedirectTo("/nowhere/file")), 0, kNoNews, std::nullopt, 6},
        // Wine's client would follow this without end.
        ServerCase{"redirect_loop",
                   [](ScriptServer& s) {
                       for (const std::string& path : kPaths)
                           s.On(path, RedirectTo(path));
                   },
                   0, kNoNews, std::nullopt, 3 * 11}),
    [](const testing::TestParamInfo<ServerCase>& info) { return std::string(info.param.name); });

class FaultTest : public testing::Test {
protected:
    CTemporaryWorkingFolder folder{kTestFolderPrefix};
    ScriptServer server;
};

// Peak committed memory of this process, in bytes.
size_t PeakCommit()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage;
}

TEST_F(FaultTest, LargeAndEndlessNewsStopAtTheCap)
{
    std::string body(10 * 1024 * 1024, 'a');
    for (size_t i = 0; i < body.size(); i += 997)
        body[i] = static_cast<char>('b' + i % 20);
    server.OnFile(kNewsPath, body);
    size_t peakBefore = PeakCommit();
    std::optional<std::string> news = FetchNews(CUpdateSource(server.BaseUrl())).news;
    EXPECT_TRUE(SameBytes(news, body.substr(0, kNewsCap)));
    EXPECT_LT(PeakCommit() - peakBefore, 8u * 1024 * 1024);

    server.On(kNewsPath, [](ScriptConnection& c, const HttpRequest&) {
        c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        const std::string block(64 * 1024, 'e');
        // Bounded: at most 256 MiB, far beyond the cap.
        for (int i = 0; i < 4096 && c.Send(block); ++i) {
        }
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchNews(CUpdateSource(server.BaseUrl())).news.value_or("").size(), kNewsCap);
    EXPECT_LT(SecondsSince(start), 20.0);
}

} // namespace
