#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>

#include "bytes_equal.h"
#include "script_server.h"
#include "test_folder.h"
#include "update_source.h"

namespace {

const std::string kPackagePath = "/game/veltrassa_01/update/update.exe";
const std::string kOldPackage = "MZ old package left by an earlier run";

class DownloadJobTest : public testing::Test {
protected:
    int RunJob() { return CDownloadJob("update.exe", server.BaseUrl()).Run(); }

    void ServePackage(std::string body, size_t pieceSize = 0, int pauseMs = 0)
    {
        server.OnResponse(kPackagePath, ScriptConnection::Pieces(std::move(body), pieceSize, pauseMs));
    }

    // After a failed download the old package is byte for byte as it was and
    // nothing else is in the folder.
    void ExpectOldPackageKept()
    {
        EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), kOldPackage));
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"update.exe"});
    }

    TestFolder folder;
    ScriptServer server;
};

TEST_F(DownloadJobTest, WritesWholePackageFromManyReads)
{
    const std::string package = PackageBytes(300 * 1024 + 17, 1);
    ServePackage(package, 4000, 1);
    EXPECT_EQ(RunJob(), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"update.exe"});
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, kPackagePath);
    EXPECT_EQ(requests[0].userAgent, "update_harun_tesly");
}

TEST_F(DownloadJobTest, ReplacesAnOlderPackage)
{
    WriteWholeFile("update.exe", kOldPackage);
    const std::string package = PackageBytes(5000, 2);
    ServePackage(package);
    EXPECT_EQ(RunJob(), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
}

TEST_F(DownloadJobTest, ChunkedPackageIsComplete)
{
    const std::string package = PackageBytes(70000, 3);
    server.OnResponse(kPackagePath, ScriptConnection::Pieces(package, 1500, 0, true));
    EXPECT_EQ(RunJob(), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
}

TEST_F(DownloadJobTest, UnreachableServerFailsAndKeepsOldPackage)
{
    WriteWholeFile("update.exe", kOldPackage);
    std::string url = "http://127.0.0.1:" + std::to_string(ScriptServer::ClosedPort()) + kUpdatePath;
    EXPECT_NE(CDownloadJob("update.exe", url).Run(), 0);
    ExpectOldPackageKept();
}

TEST_F(DownloadJobTest, ErrorStatusFailsAndKeepsOldPackage)
{
    WriteWholeFile("update.exe", kOldPackage);
    for (int status : {404, 500}) {
        server.OnFile(kPackagePath, "<html>not here</html>", status);
        EXPECT_NE(RunJob(), 0) << status;
        ExpectOldPackageKept();
    }
}

TEST_F(DownloadJobTest, ErrorStatusCreatesNoFile)
{
    EXPECT_NE(RunJob(), 0); // no handler: 404
    EXPECT_TRUE(folder.Entries().empty());
}

TEST_F(DownloadJobTest, ConnectionDroppedMidBodyFailsAndKeepsOldPackage)
{
    WriteWholeFile("update.exe", kOldPackage);
    server.On(kPackagePath, [](ScriptConnection& c, const HttpRequest&) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n");
        c.Send(PackageBytes(30000, 4));
    });
    EXPECT_NE(RunJob(), 0);
    ExpectOldPackageKept();
}

TEST_F(DownloadJobTest, StallMidBodyFailsAfterReceiveTimeout)
{
    WriteWholeFile("update.exe", kOldPackage);
    server.On(kPackagePath, [](ScriptConnection& c, const HttpRequest&) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n");
        c.Send(PackageBytes(3000, 5));
        c.Pause(20000);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(RunJob(), 0);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 4.0);
    EXPECT_LT(seconds, 12.0);
    ExpectOldPackageKept();
}

TEST_F(DownloadJobTest, TemporaryFileThatCannotBeCreatedFails)
{
    WriteWholeFile("update.exe", kOldPackage);
    ASSERT_TRUE(CreateDirectoryA("update.exe.part", nullptr));
    ServePackage(PackageBytes(5000, 6));
    EXPECT_NE(RunJob(), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), kOldPackage));
}

TEST_F(DownloadJobTest, PackageThatCannotBeReplacedFailsAndLeavesNoTemporaryFile)
{
    ASSERT_TRUE(CreateDirectoryA("update.exe", nullptr));
    ServePackage(PackageBytes(5000, 7));
    EXPECT_NE(RunJob(), 0);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"update.exe"});
    EXPECT_TRUE(GetFileAttributesA("update.exe") & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(DownloadJobTest, StaleTemporaryFileIsOverwritten)
{
    WriteWholeFile("update.exe.part", std::string(90000, 'x'));
    const std::string package = PackageBytes(1000, 8);
    ServePackage(package);
    EXPECT_EQ(RunJob(), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), package));
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{"update.exe"});
}

} // namespace
