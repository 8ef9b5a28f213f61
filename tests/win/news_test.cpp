#include <gtest/gtest.h>

#include <chrono>

#include "bytes_equal.h"
#include "script_server.h"
#include "update_source.h"

namespace {

const std::string kNoNews = "ニュースはありません";

// News as the publisher writes it: code page 932 with CRLF line ends.
std::string LongNews()
{
    std::string news;
    for (int line = 0; news.size() < 5000; ++line)
        news += "お知らせ " + std::to_string(line) + ": 新しいステージを追加しました。\r\n";
    return news;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(FetchNews, RequestsTextFileWithAgent)
{
    ScriptServer server;
    server.OnFile("/game/veltrassa_01/update/text.txt", "news");
    EXPECT_EQ(FetchNews(CUpdateSource(server.BaseUrl())), "news");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/game/veltrassa_01/update/text.txt");
    EXPECT_EQ(requests[0].userAgent, "update_harun_tesly");
}

TEST(FetchNews, AssemblesLongBodyFromPiecesByteExact)
{
    ScriptServer server;
    const std::string news = LongNews();
    server.OnResponse("/game/veltrassa_01/update/text.txt", ScriptConnection::Pieces(news, 700, 30));
    EXPECT_TRUE(SameBytes(FetchNews(CUpdateSource(server.BaseUrl())), news));
}

TEST(FetchNews, AssemblesChunkedBody)
{
    ScriptServer server;
    const std::string news = LongNews();
    server.OnResponse("/game/veltrassa_01/update/text.txt", ScriptConnection::Pieces(news, 333, 0, true));
    EXPECT_TRUE(SameBytes(FetchNews(CUpdateSource(server.BaseUrl())), news));
}

TEST(FetchNews, EmptyBodyIsEmptyNews)
{
    ScriptServer server;
    server.OnFile("/game/veltrassa_01/update/text.txt", "");
    EXPECT_EQ(FetchNews(CUpdateSource(server.BaseUrl())), "");
}

TEST(FetchNews, UnreachableServerGivesNoNews)
{
    std::string url = "http://127.0.0.1:" + std::to_string(ScriptServer::ClosedPort()) + kUpdatePath;
    EXPECT_EQ(FetchNews(CUpdateSource(url)), kNoNews);
}

TEST(FetchNews, ErrorStatusGivesNoNews)
{
    for (int status : {404, 500, 302}) {
        ScriptServer server;
        server.OnFile("/game/veltrassa_01/update/text.txt", "<html>error page</html>", status);
        EXPECT_EQ(FetchNews(CUpdateSource(server.BaseUrl())), kNoNews) << status;
    }
}

TEST(FetchNews, BodyIsCappedAtOneMebibyte)
{
    ScriptServer server;
    std::string body(1024 * 1024 + 5000, 'a');
    for (size_t i = 0; i < body.size(); i += 997)
        body[i] = static_cast<char>('b' + i % 20);
    server.OnFile("/game/veltrassa_01/update/text.txt", body);
    std::string news = FetchNews(CUpdateSource(server.BaseUrl()));
    ASSERT_EQ(news.size(), 1024u * 1024u);
    EXPECT_TRUE(SameBytes(news, body.substr(0, 1024 * 1024)));
}

TEST(FetchNews, ConnectionDroppedMidBodyKeepsWhatArrived)
{
    ScriptServer server;
    server.On("/game/veltrassa_01/update/text.txt", [](ScriptConnection& c, const HttpRequest&) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\nConnection: close\r\n\r\n");
        c.Send("first part");
    });
    EXPECT_EQ(FetchNews(CUpdateSource(server.BaseUrl())), "first part");
}

TEST(FetchNews, StallMidBodyEndsAfterReceiveTimeout)
{
    ScriptServer server;
    const std::string sent = LongNews().substr(0, 3000);
    server.On("/game/veltrassa_01/update/text.txt", [&](ScriptConnection& c, const HttpRequest&) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\nConnection: close\r\n\r\n");
        c.Send(sent);
        c.Pause(20000);
    });
    auto start = std::chrono::steady_clock::now();
    std::string news = FetchNews(CUpdateSource(server.BaseUrl()));
    double seconds = SecondsSince(start);
    // The reads completed before the stall are kept; the one it cut short is not.
    EXPECT_GE(news.size(), 1024u);
    EXPECT_TRUE(SameBytes(news, sent.substr(0, news.size())));
    EXPECT_GE(seconds, 4.0);
    EXPECT_LT(seconds, 12.0);
}

TEST(FetchNews, StallBeforeHeadersEndsAfterReceiveTimeout)
{
    ScriptServer server;
    server.On("/game/veltrassa_01/update/text.txt",
              [](ScriptConnection& c, const HttpRequest&) { c.Pause(20000); });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchNews(CUpdateSource(server.BaseUrl())), kNoNews);
    EXPECT_LT(SecondsSince(start), 12.0);
}

TEST(FetchNews, OverlongUrlFailsWithoutRequest)
{
    ScriptServer server;
    std::string url = server.BaseUrl() + std::string(250, 'x') + "/";
    EXPECT_EQ(FetchNews(CUpdateSource(url)), kNoNews);
    EXPECT_TRUE(server.Requests().empty());
}

} // namespace
