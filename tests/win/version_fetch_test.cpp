#include <gtest/gtest.h>

#include "script_server.h"
#include "version_info.h"

namespace {

int FetchLatestFrom(const std::string& url)
{
    CVersionInfo info;
    info.m_nRemote = 4242;
    EXPECT_EQ(info.FetchLatest(url), 0);
    return info.m_nRemote;
}

TEST(FetchLatest, ReadsVersionFileWithAgent)
{
    ScriptServer server;
    server.OnFile("/game/veltrassa_01/update/version.dat", "version=1,5;");
    EXPECT_EQ(FetchLatestFrom(server.BaseUrl() + "version.dat"), 1005);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/game/veltrassa_01/update/version.dat");
    EXPECT_EQ(requests[0].userAgent, "update_harun_tesly");
}

TEST(FetchLatest, OnlyTheFirst255BytesCount)
{
    ScriptServer server;
    server.OnFile("/game/veltrassa_01/update/version.dat", std::string(251, 'k') + "=1,23;");
    EXPECT_EQ(FetchLatestFrom(server.BaseUrl() + "version.dat"), 1002);
}

TEST(FetchLatest, UnreachableServerGivesZero)
{
    std::string url = "http://127.0.0.1:" + std::to_string(ScriptServer::ClosedPort()) + kUpdatePath;
    EXPECT_EQ(FetchLatestFrom(url + "version.dat"), 0);
}

TEST(FetchLatest, ErrorStatusGivesZeroWhateverItsBody)
{
    for (int status : {404, 500}) {
        ScriptServer server;
        server.OnFile("/game/veltrassa_01/update/version.dat", "version=9,9;", status);
        EXPECT_EQ(FetchLatestFrom(server.BaseUrl() + "version.dat"), 0) << status;
    }
}

TEST(FetchLatest, NonVersionBodyGivesZero)
{
    ScriptServer server;
    server.OnFile("/game/veltrassa_01/update/version.dat", "<html><body>maintenance</body></html>");
    EXPECT_EQ(FetchLatestFrom(server.BaseUrl() + "version.dat"), 0);
}

TEST(FetchLatest, OverlongUrlGivesZeroWithoutRequest)
{
    ScriptServer server;
    std::string url = server.BaseUrl() + std::string(245, 'v') + ".dat";
    ASSERT_GT(url.size(), 255u);
    EXPECT_EQ(FetchLatestFrom(url), 0);
    EXPECT_TRUE(server.Requests().empty());
}

TEST(FetchLatest, StalledServerGivesZero)
{
    ScriptServer server;
    server.On("/game/veltrassa_01/update/version.dat",
              [](ScriptConnection& c, const HttpRequest&) { c.Pause(20000); });
    EXPECT_EQ(FetchLatestFrom(server.BaseUrl() + "version.dat"), 0);
}

} // namespace
