// The three transfers over https, through the TLS front of the test fixtures
// to the scripted server, with the platform's certificate checks as they are:
// the fixtures made the front's CA a trusted root of the prefix, and nothing
// else is relaxed.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "bytes_equal.h"
#include "script_server.h"
#include "test_files.h"
#include "transfer.h"
#include "update_source.h"
#include "version_info.h"

namespace {

// Where the TLS front forwards to, and its ports, one per certificate.
constexpr uint16_t kPlainPort = 28471;
const std::string kPlainBase = "http://127.0.0.1:28471/game/veltrassa_01/update/";
const std::string kTrustedBase = "https://localhost:28480/game/veltrassa_01/update/";
const std::string kUntrustedBase = "https://localhost:28481/game/veltrassa_01/update/";
const std::string kWrongHostBase = "https://localhost:28482/game/veltrassa_01/update/";
const std::string kExpiredBase = "https://localhost:28483/game/veltrassa_01/update/";
const std::string kNews = "お知らせ\r\n暗号化された通信でお届けします。";
const std::string kOldPackage = "MZ old package left by an earlier run";

std::string Package()
{
    return PackageBytes(70000, 11);
}

// The three files of the update directory on the scripted server, under the
// update path and, for redirects to point at, under /moved/.
void ServeFiles(ScriptServer& server, const std::string& prefix)
{
    server.OnFile(prefix + "version.dat", "version=1,5;");
    server.OnFile(prefix + "text.txt", kNews);
    server.OnFile(prefix + "update.exe", Package());
}

// Every file of the update directory answers with a redirect to target + its name.
void RedirectFiles(ScriptServer& server, const std::string& target)
{
    for (const char* file : {"version.dat", "text.txt", "update.exe"}) {
        ScriptConnection::Response response;
        response.status = 302;
        response.extraHeaders = "Location: " + target + file + "\r\n";
        server.OnResponse(std::string(kUpdatePath) + file, response);
    }
}

// What the updater makes of the three files at base: each either arrives
// whole or fails with the expected error and its fallback.
void ExpectTransfers(const std::string& base, TransferError error)
{
    bool ok = error == TransferError::None;
    CTemporaryWorkingFolder folder{kTestFolderPrefix};
    WriteWholeFile("update.exe", kOldPackage);

    CVersionInfo version;
    VersionFileFetch fetch = version.FetchLatest(base + "version.dat");
    EXPECT_EQ(version.m_nRemote, ok ? 1005 : 0);
    EXPECT_EQ(fetch.transfer.error, error) << "version file";

    NewsFetch news = FetchNews(CUpdateSource(base));
    EXPECT_EQ(news.news, ok ? std::optional(kNews) : std::nullopt);
    EXPECT_EQ(news.transfer.error, error) << "news";

    PackageDownload download = CDownloadJob("update.exe", base, "").Run();
    EXPECT_EQ(download.outcome == DownloadOutcome::Installed, ok);
    EXPECT_EQ(download.transfer.error, error) << "package";
    EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), ok ? Package() : kOldPackage));
    EXPECT_EQ(EntriesOf(folder), std::vector<std::string>{"update.exe"});
}

class SecureChannel : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Listening()) << "port " << kPlainPort << " is taken"; }

    ScriptServer server{kPlainPort};
};

TEST_F(SecureChannel, TrustedCertificateCarriesAllThreeFilesByteExact)
{
    ServeFiles(server, kUpdatePath);
    ExpectTransfers(kTrustedBase, TransferError::None);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const HttpRequest& request : requests)
        EXPECT_EQ(request.userAgent, "update_harun_tesly");
}

TEST_F(SecureChannel, CertificatesThePlatformRejectsFailEveryTransfer)
{
    ServeFiles(server, kUpdatePath);
    const struct {
        const char* certificate;
        const std::string& base;
        DWORD systemError;
    } cases[] = {
        {"untrusted issuer", kUntrustedBase, ERROR_INTERNET_INVALID_CA},
        {"another host name", kWrongHostBase, ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {"expired", kExpiredBase, ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.certificate);
        ExpectTransfers(c.base, TransferError::Certificate);
        CTransfer transfer;
        EXPECT_FALSE(transfer.Open(c.base + "version.dat"));
        EXPECT_EQ(transfer.Info().systemError, c.systemError);
    }
    EXPECT_TRUE(server.Requests().empty()) << "nothing may pass a refused handshake";
    // A refused handshake leaves the front serving.
    ExpectTransfers(kTrustedBase, TransferError::None);
}

TEST_F(SecureChannel, RedirectFromHttpsToHttpIsRefused)
{
    ServeFiles(server, "/moved/");
    RedirectFiles(server, "http://127.0.0.1:28471/moved/");
    ExpectTransfers(kTrustedBase, TransferError::InsecureRedirect);
    for (const HttpRequest& request : server.Requests())
        EXPECT_EQ(request.path.rfind("/moved/", 0), std::string::npos) << "followed to plain http";
}

TEST_F(SecureChannel, RedirectFromHttpToHttpsIsFollowedWithItsCertificateChecked)
{
    ServeFiles(server, "/moved/");
    RedirectFiles(server, "https://localhost:28480/moved/");
    ExpectTransfers(kPlainBase, TransferError::None);
    CTransfer transfer;
    ASSERT_TRUE(transfer.Open(kPlainBase + "version.dat"));
    EXPECT_EQ(transfer.Info().url, "https://localhost:28480/moved/version.dat");

    RedirectFiles(server, "https://localhost:28481/moved/");
    ExpectTransfers(kPlainBase, TransferError::Certificate);
}

} // namespace
