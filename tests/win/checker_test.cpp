// The server checker, run as a program against scripted servers on
// 127.0.0.1: one row per way a server can fail players, and clean servers.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "checker_run.h"
#include "script_server.h"
#include "test_folder.h"

namespace {

const std::string kVersionPath = "/game/veltrassa_01/update/version.dat";
const std::string kNewsPath = "/game/veltrassa_01/update/text.txt";
const std::string kPackagePath = "/game/veltrassa_01/update/update.exe";
const std::string kSignaturePath = "/game/veltrassa_01/update/update.exe.sig";
// Code page 932 bytes, as the publisher writes the news file, and as shown.
const std::string kNews = "\x82\xa8\x92\x6d\x82\xe7\x82\xb9\r\n\x90\x56\x83\x58\x83\x65\x81\x5b\x83\x57";
const std::wstring kNewsShown = L"    | お知らせ\n    | 新ステージ\n";
const std::string kUtf8News = "\xe3\x81\x8a\xe7\x9f\xa5\xe3\x82\x89\xe3\x81\x9b";

// For failure messages: the output's ASCII, which holds every verdict.
std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

std::string CryptoFile(const char* name)
{
    return std::string(UPDATER_TEST_CRYPTO_DIR) + name;
}

std::string GameOption(const char* fixture)
{
    return "--game \"" + ProgramFolder() + fixture + "\" ";
}

std::string KeyOption(const char* key)
{
    return "--key \"" + CryptoFile(key) + "\" ";
}

std::string PackageProgram()
{
    return ReadWholeFile(ProgramFolder() + "test_package.exe").value_or("");
}

// The files of a server that serves players well.
void ServeGoodFiles(ScriptServer& server)
{
    server.OnFile(kVersionPath, "version=1,5;");
    server.OnFile(kNewsPath, kNews);
    server.OnFile(kPackagePath, PackageProgram());
}

void ServeSignature(ScriptServer& server, const char* signature)
{
    server.OnFile(kSignaturePath, ReadWholeFile(CryptoFile(signature)).value_or(""));
}

struct CheckerCase {
    const char* name;
    std::function<void(ScriptServer&)> serve; // on top of the good files
    std::string options;                      // before the URL
    DWORD exitCode;
    std::vector<std::wstring> expected; // each somewhere in the output
};

void PrintTo(const CheckerCase& c, std::ostream* os) { *os << c.name; }

// A working folder that must stay empty, a temporary folder for the checker
// that must be empty again afterwards, and the checker's output files.
class CheckerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryA(WorkingFolder().c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(TempFolder().c_str(), nullptr));
    }

    std::string WorkingFolder() const { return folder.Path() + "\\cwd"; }
    std::string TempFolder() const { return folder.Path() + "\\tmp"; }

    CheckerRun Check(const std::string& arguments)
    {
        std::optional<CheckerRun> run = RunChecker(arguments, WorkingFolder(), TempFolder(), folder.Path());
        EXPECT_TRUE(run) << "the checker did not start or did not end";
        return run.value_or(CheckerRun{});
    }

    void ExpectFoldersLeftEmpty()
    {
        EXPECT_EQ(FolderEntries(WorkingFolder()), std::vector<std::string>{}) << "wrote into its working folder";
        EXPECT_EQ(FolderEntries(TempFolder()), std::vector<std::string>{}) << "left its temporary folder";
    }

    TestFolder folder;
};

class CheckerRowTest : public CheckerTest, public testing::WithParamInterface<CheckerCase> {
protected:
    ScriptServer server;
};

TEST_P(CheckerRowTest, ReportsWhatPlayersWouldMeet)
{
    ASSERT_TRUE(server.Listening());
    ServeGoodFiles(server);
    if (GetParam().serve)
        GetParam().serve(server);
    CheckerRun run = Check(GetParam().options + server.BaseUrl());
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << Narrow(run.errors) << Narrow(run.output);
    for (const std::wstring& text : GetParam().expected) {
        EXPECT_NE(run.output.find(text), std::wstring::npos)
            << "missing: " << std::string(text.begin(), text.end());
    }
    EXPECT_TRUE(run.errors.empty());
    ExpectFoldersLeftEmpty();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, CheckerRowTest,
    testing::Values(
        CheckerCase{"clean", nullptr, "", 0,
                    {L"最新バージョン  1.05\n", L"現在のバージョン  0.00\n", L"Update  enabled", kNewsShown,
                     L"starts  MZ", L"OK: players are served"}},
        CheckerCase{"clean and signed", [](ScriptServer& s) { ServeSignature(s, "test_package.rsa2048.sig"); },
                    KeyOption("rsa2048.pub.pem"), 0, {L"verifies update.exe", L"OK:"}},
        CheckerCase{"up to date", nullptr, GameOption("game_1_5_0_0.exe"), 0,
                    {L"現在のバージョン  1.05\n", L"Update  disabled", L"NOTICE  version.dat", L"OK:"}},
        CheckerCase{"version file missing", [](ScriptServer& s) { s.OnFile(kVersionPath, "gone", 404); }, "", 1,
                    {L"PROBLEM version.dat: the server answered HTTP 404", L"最新バージョン  0.00"}},
        CheckerCase{"version file gives 0", [](ScriptServer& s) { s.OnFile(kVersionPath, "<html>oops</html>"); },
                    "", 1, {L"PROBLEM version.dat: it gives 0.00", L"Update  disabled"}},
        CheckerCase{"minor of 1000 or more", [](ScriptServer& s) { s.OnFile(kVersionPath, "version=1,1005;"); },
                    "", 1, {L"minor version 1005 is outside 0-999", L"最新バージョン  2.05"}},
        CheckerCase{"server behind the game", [](ScriptServer& s) { s.OnFile(kVersionPath, "version=1,4;"); },
                    GameOption("game_1_5_0_0.exe"), 1, {L"PROBLEM version.dat: the latest version 1.04 is below"}},
        CheckerCase{"redirect to an error page",
                    [](ScriptServer& s) {
                        ScriptConnection::Response moved;
                        moved.status = 302;
                        moved.extraHeaders = "Location: /error.html\r\n";
                        s.OnResponse(kVersionPath, moved);
                        s.OnFile("/error.html", "<html>Access denied</html>");
                    },
                    "", 1, {L"/error.html (redirected from ", L"it gives 0.00"}},
        CheckerCase{"redirect loop",
                    [](ScriptServer& s) {
                        ScriptConnection::Response again;
                        again.status = 302;
                        again.extraHeaders = "Location: " + kNewsPath + "\r\n";
                        s.OnResponse(kNewsPath, again);
                    },
                    "", 1, {L"PROBLEM text.txt: more than 10 redirects"}},
        CheckerCase{"news in UTF-8", [](ScriptServer& s) { s.OnFile(kNewsPath, kUtf8News); }, "", 1,
                    {L"PROBLEM text.txt: it looks like UTF-8"}},
        CheckerCase{"news not code page 932", [](ScriptServer& s) { s.OnFile(kNewsPath, "news \x82"); }, "", 1,
                    {L"byte 0x82 at offset 5 is not valid code page 932"}},
        CheckerCase{"news over the cap",
                    [](ScriptServer& s) { s.OnFile(kNewsPath, std::string(1024 * 1024 + 10, 'a')); }, "", 1,
                    {L"larger than the updater's news cap of 1,048,576 bytes"}},
        CheckerCase{"slow news", [](ScriptServer& s) { s.OnFile(kNewsPath, std::string(70000, 'a')); }, "", 0,
                    {L"NOTICE  text.txt: it is 70,000 bytes: reading it delays"}},
        CheckerCase{"news forbidden", [](ScriptServer& s) { s.OnFile(kNewsPath, "no", 403); }, "", 1,
                    {L"PROBLEM text.txt: the server answered HTTP 403", L"| ニュースはありません"}},
        CheckerCase{"package not an executable",
                    [](ScriptServer& s) { s.OnFile(kPackagePath, "<html>Not here</html>"); }, "", 1,
                    {L"PROBLEM update.exe: it is not a Windows executable"}},
        CheckerCase{"package shorter than announced",
                    [](ScriptServer& s) {
                        ScriptConnection::Response response;
                        response.body = PackageBytes(5000, 1);
                        response.contentLength = "9000";
                        s.OnResponse(kPackagePath, response);
                    },
                    "", 1, {L"5,000 bytes arrived, but Content-Length announced 9,000 bytes"}},
        CheckerCase{"package empty", [](ScriptServer& s) { s.OnFile(kPackagePath, ""); }, "", 1,
                    {L"PROBLEM update.exe: it is empty"}},
        CheckerCase{"package forbidden", [](ScriptServer& s) { s.OnFile(kPackagePath, "no", 403); }, "", 1,
                    {L"PROBLEM update.exe: the server answered HTTP 403"}},
        CheckerCase{"package not downloaded", [](ScriptServer& s) { s.OnFile(kPackagePath, "", 404); },
                    "--no-package ", 0, {L"not downloaded (--no-package)", L"OK:"}},
        CheckerCase{"signature missing", nullptr, KeyOption("rsa2048.pub.pem"), 1,
                    {L"PROBLEM update.exe.sig: the server answered HTTP 404", L"starts  MZ"}},
        CheckerCase{"signature of another key",
                    [](ScriptServer& s) { ServeSignature(s, "test_package.other.sig"); },
                    KeyOption("rsa2048.pub.pem"), 1,
                    {L"PROBLEM update.exe.sig: it does not verify update.exe"}}),
    [](const testing::TestParamInfo<CheckerCase>& info) {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST_F(CheckerTest, UnreachableServerFailsEveryFile)
{
    std::string url = "http://127.0.0.1:" + std::to_string(ScriptServer::ClosedPort()) + kUpdatePath;
    CheckerRun run = Check(url);
    EXPECT_EQ(run.exitCode, 1u);
    for (const wchar_t* file : {L"PROBLEM version.dat: no answer", L"PROBLEM text.txt: no answer",
                                L"PROBLEM update.exe: no answer"})
        EXPECT_NE(run.output.find(file), std::wstring::npos) << std::string(file, file + wcslen(file));
    ExpectFoldersLeftEmpty();
}

struct UsageCase {
    const char* name;
    std::string arguments;
    std::wstring error;
};

class CheckerUsageTest : public CheckerTest, public testing::WithParamInterface<UsageCase> {};

TEST_P(CheckerUsageTest, RefusesWithUsageAndContactsNoOne)
{
    ScriptServer server;
    ASSERT_TRUE(server.Listening());
    CheckerRun run = Check(GetParam().arguments + " " + server.BaseUrl());
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.errors.find(GetParam().error), std::wstring::npos);
    EXPECT_NE(run.errors.find(L"usage: updater_check [--game PATH] [--key PUBLIC.pem] [--no-package] [URL]\n"),
              std::wstring::npos);
    EXPECT_TRUE(run.output.empty());
    EXPECT_TRUE(server.Requests().empty());
    ExpectFoldersLeftEmpty();
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, CheckerUsageTest,
    testing::Values(UsageCase{"unknown option", "--fast", L"unknown option --fast"},
                    UsageCase{"two URLs", "http://127.0.0.1:1/game/veltrassa_01/update/", L"more than one URL"},
                    UsageCase{"game missing", "--game no_such_game.exe", L"no such game file"},
                    UsageCase{"key not PEM", "--key \"" + ProgramFolder() + "test_package.exe\"",
                              L"is not a PEM public key"},
                    UsageCase{"key of a refused kind", KeyOption("ec384.pub.pem"),
                              L"is not a PEM public key"},
                    UsageCase{"key missing", "--key no_such_key.pem", L"cannot read the key file"}),
    [](const testing::TestParamInfo<UsageCase>& info) {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// Over https, through the TLS front of the test fixtures, which presents a
// certificate per port and forwards to the scripted server on port 28471.
constexpr uint16_t kTlsBackendPort = 28471;

std::string HttpsBase(uint16_t port)
{
    return "https://localhost:" + std::to_string(port) + kUpdatePath;
}

struct SecureCase {
    const char* name;
    uint16_t port;
    std::function<void(ScriptServer&)> serve; // on top of the good files
    DWORD exitCode;
    std::wstring expected;
};

void PrintTo(const SecureCase& c, std::ostream* os) { *os << c.name; }

class CheckerSecureTest : public CheckerTest, public testing::WithParamInterface<SecureCase> {};

TEST_P(CheckerSecureTest, JudgesTheServerAsTheUpdaterDoes)
{
    ScriptServer server(kTlsBackendPort);
    ASSERT_TRUE(server.Listening());
    ServeGoodFiles(server);
    if (GetParam().serve)
        GetParam().serve(server);
    CheckerRun run = Check(HttpsBase(GetParam().port));
    EXPECT_EQ(run.exitCode, GetParam().exitCode) << Narrow(run.errors) << Narrow(run.output);
    EXPECT_NE(run.output.find(GetParam().expected), std::wstring::npos) << Narrow(run.output);
    ExpectFoldersLeftEmpty();
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, CheckerSecureTest,
    testing::Values(
        SecureCase{"trusted", 28480, nullptr, 0, L"OK: players are served"},
        SecureCase{"self_signed", 28481, nullptr, 1,
                   L"PROBLEM version.dat: Windows rejects the server's certificate: the certificate is not issued "
                   L"by a CA Windows trusts"},
        SecureCase{"another_host", 28482, nullptr, 1, L"issued for another host name"},
        SecureCase{"expired", 28483, nullptr, 1, L"has expired or is not yet valid"},
        SecureCase{"redirect_to_http", 28480,
                   [](ScriptServer& s) {
                       ScriptConnection::Response moved;
                       moved.status = 302;
                       moved.extraHeaders =
                           "Location: http://127.0.0.1:" + std::to_string(kTlsBackendPort) + "/plain/update.exe\r\n";
                       s.OnResponse(kPackagePath, moved);
                       s.OnFile("/plain/update.exe", PackageProgram());
                   },
                   1, L"PROBLEM update.exe: the https request was redirected to plain http"}),
    [](const testing::TestParamInfo<SecureCase>& info) { return std::string(info.param.name); });

TEST_F(CheckerTest, OptionWithoutItsValueIsAUsageError)
{
    CheckerRun run = Check("--game");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_NE(run.errors.find(L"--game needs a file name"), std::wstring::npos);
}

} // namespace
