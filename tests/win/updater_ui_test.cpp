// The real updater, started in a fresh installation folder against a scripted
// update server on 127.0.0.1, driven from outside as a player would.
#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <optional>

#include "bytes_equal.h"
#include "checker_run.h"
#include "resource.h"
#include "script_server.h"
#include "test_folder.h"
#include "updater_driver.h"

namespace {

const std::wstring kCaption = L"Orvantis updater v1.00";
const std::wstring kAboutCaption = L"バージョン情報 updater_Orvantis";
const std::wstring kMessageCaption = L"updater_Orvantis";
const std::string kVersionPath = "/game/veltrassa_01/update/version.dat";
const std::string kNewsPath = "/game/veltrassa_01/update/text.txt";
const std::string kPackagePath = "/game/veltrassa_01/update/update.exe";
// Code page 932 bytes, as the publisher writes the news file.
const std::string kNews = "お知らせ\r\n新しいステージを追加しました。";
const std::wstring kNewsShown = L"お知らせ\r\n新しいステージを追加しました。";

// The ANSI code page the locale of this run gives, or 0 for one not known here.
UINT ExpectedCodePage()
{
    const char* locale = std::getenv("LC_ALL");
    std::string name = locale ? locale : "";
    if (name.rfind("ja_JP", 0) == 0)
        return 932;
    if (name.rfind("en_US", 0) == 0)
        return 1252;
    return 0;
}

// The URLs in the user's Internet cache that start with prefix.
std::vector<std::string> CachedUrls(const std::string& prefix)
{
    std::vector<std::string> urls;
    std::vector<DWORD> buffer(1024); // DWORDs, for the entry's alignment
    HANDLE find = nullptr;
    for (;;) {
        auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
        DWORD size = static_cast<DWORD>(buffer.size() * sizeof buffer[0]);
        bool found = find ? FindNextUrlCacheEntryA(find, entry, &size)
                          : (find = FindFirstUrlCacheEntryA(nullptr, entry, &size)) != nullptr;
        if (!found && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            buffer.resize(size / sizeof buffer[0] + 1);
            continue;
        }
        if (!found)
            break;
        if (std::string url = entry->lpszSourceUrlName; url.rfind(prefix, 0) == 0)
            urls.push_back(url);
    }
    // Anything else than the end would leave entries unseen.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    if (find)
        FindCloseUrlCache(find);
    return urls;
}

class UpdaterTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server->Listening()) << "port " << UPDATER_TEST_PORT << " is taken";
        ASSERT_TRUE(CopyFileA((ProgramFolder() + "updater_Orvantis.exe").c_str(),
                              (folder.Path() + "\\updater_Orvantis.exe").c_str(), FALSE));
        server->OnFile(kVersionPath, "version=1,5;");
        server->OnFile(kNewsPath, kNews);
    }

    void InstallGame(const char* fixture = "game_1_4_0_0.exe")
    {
        ASSERT_TRUE(CopyFileA((ProgramFolder() + fixture).c_str(),
                              (folder.Path() + "\\harun_tesli.exe").c_str(), FALSE));
    }

    std::string PackageProgram() { return ReadWholeFile(ProgramFolder() + "test_package.exe").value(); }

    // Puts another build of the updater, one for another server or with a
    // package key, in the place of the default one.
    void UseBuild(const char* program)
    {
        ASSERT_TRUE(CopyFileA((ProgramFolder() + program).c_str(),
                              (folder.Path() + "\\updater_Orvantis.exe").c_str(), FALSE));
    }

    // Starts the updater (by default the one in the installation folder)
    // with the installation folder as its working folder, and returns its
    // dialog once it shows.
    HWND Start(const std::string& program = "")
    {
        updater = std::make_unique<UpdaterProcess>(program.empty() ? folder.Path() + "\\updater_Orvantis.exe" : program,
                                                   folder.Path());
        EXPECT_TRUE(updater->Started());
        HWND dialog = updater->WaitForWindow(kCaption);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }

    std::optional<std::string> FileInFolder(const char* name)
    {
        return ReadWholeFile(folder.Path() + "\\" + name);
    }

    bool StillRunning(DWORD forMs = 500) { return !updater->WaitForExit(forMs); }

    // After a click on Update: the package arrived whole, the player agrees,
    // the package starts and the updater closes.
    void ExpectPackageInstalledAndStarted(const std::string& package)
    {
        HWND box = updater->WaitForWindow(kMessageCaption);
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(SameBytes(FileInFolder("update.exe"), package));
        Click(box, IDOK);
        EXPECT_TRUE(updater->WaitForExit());
        EXPECT_TRUE(WaitUntil([&] { return FileInFolder("package_ran.txt") == "0"; }));
    }

    TestFolder folder;
    std::unique_ptr<ScriptServer> server = std::make_unique<ScriptServer>(UPDATER_TEST_PORT);
    std::unique_ptr<UpdaterProcess> updater;
};

TEST_F(UpdaterTest, ShowsVersionsNewsAndCaptions)
{
    if (UINT codePage = ExpectedCodePage()) {
        EXPECT_EQ(GetACP(), codePage) << "the locale did not take effect";
    }
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  1.05");
    EXPECT_EQ(ControlText(dialog, IDC_CURRENT), L"現在のバージョン  1.04");
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), kNewsShown);
    EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
    EXPECT_EQ(ControlText(dialog, IDC_UPDATE), L"更新\r\nUpdate");
    EXPECT_EQ(ControlText(dialog, IDC_QUIT), L"終了\r\nQuit");
    EXPECT_EQ(ControlText(dialog, IDC_FULLSCREEN), L"フルスクリーンで起動\r\nFull Screen");
    EXPECT_EQ(ControlText(dialog, IDC_WINDOW), L"ウィンドウモードで起動\r\nWindow Mode");
    auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, kVersionPath);
    EXPECT_EQ(requests[1].path, kNewsPath);
}

TEST_F(UpdaterTest, WindowShowsOnlyAfterBothFetches)
{
    InstallGame();
    server->On(kNewsPath, [](ScriptConnection& c, const HttpRequest&) {
        c.Pause(2500);
        ScriptConnection::Response response;
        response.body = kNews;
        c.Respond(response);
    });
    updater = std::make_unique<UpdaterProcess>(folder.Path() + "\\updater_Orvantis.exe", folder.Path());
    EXPECT_EQ(updater->WaitForWindow(kCaption, 1500), nullptr);
    HWND dialog = updater->WaitForWindow(kCaption);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), kNewsShown);
}

// News that drips a byte a second holds the window only until the start-up's
// time is up; it shows with what arrived by then.
TEST_F(UpdaterTest, WindowShowsWhileTheNewsDrips)
{
    InstallGame();
    std::string news;
    while (news.size() < 3000)
        news += "News of the day, sent one byte at a time. ";
    server->OnResponse(kNewsPath, ScriptConnection::Pieces(news, 1, 1000));
    const ULONGLONG start = GetTickCount64();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    const ULONGLONG shownAfter = GetTickCount64() - start;
    EXPECT_GE(shownAfter, 9000u) << "the news was read for less than its time";
    EXPECT_LT(shownAfter, 20000u);
    const std::wstring shown = ControlText(dialog, IDC_NEWS);
    EXPECT_GE(shown.size(), 5u);
    EXPECT_EQ(shown, std::wstring(news.begin(), news.begin() + std::min(shown.size(), news.size())));
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  1.05");
    EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
}

TEST_F(UpdaterTest, ShowsWholeNewsUpToTheCap)
{
    InstallGame();
    // Whole lines up to exactly 1 MiB, then a line beyond it that is left out.
    constexpr size_t kNewsCap = 1024 * 1024;
    std::string news;
    std::wstring shown;
    while (news.size() + kNews.size() + 2 <= kNewsCap) {
        news += kNews + "\r\n";
        shown += kNewsShown + L"\r\n";
    }
    const size_t fill = kNewsCap - news.size();
    news.append(fill, '.');
    shown.append(fill, L'.');
    server->OnFile(kNewsPath, news + "\r\nこの行は上限の先にあります。");
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    const std::wstring text = ControlText(dialog, IDC_NEWS);
    ASSERT_EQ(text.size(), shown.size());
    EXPECT_TRUE(text == shown) << "differs from character "
                               << std::mismatch(text.begin(), text.end(), shown.begin()).first - text.begin();
}

TEST_F(UpdaterTest, UpToDateGameLeavesUpdateDisabled)
{
    InstallGame();
    server->OnFile(kVersionPath, "version=1,4;");
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    Click(dialog, IDC_UPDATE);
    EXPECT_TRUE(StillRunning(1000));
    EXPECT_EQ(server->Requests().size(), 2u) << "no download may start";
}

TEST_F(UpdaterTest, UnreachableServerShowsZeroAndNoNews)
{
    InstallGame();
    server.reset();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  0.00");
    EXPECT_EQ(ControlText(dialog, IDC_CURRENT), L"現在のバージョン  1.04");
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), L"ニュースはありません");
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    Click(dialog, IDC_FULLSCREEN);
    EXPECT_TRUE(updater->WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return FileInFolder("game_args.txt") == "fullscreen\n"; }));
}

TEST_F(UpdaterTest, MissingGameShowsZeroAndOffersUpdate)
{
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_CURRENT), L"現在のバージョン  0.00");
    EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
    // The game cannot start, and the updater closes all the same.
    Click(dialog, IDC_WINDOW);
    EXPECT_TRUE(updater->WaitForExit());
}

TEST_F(UpdaterTest, UpdateDownloadsAsksAndStartsPackage)
{
    InstallGame();
    const std::string package = PackageProgram();
    server->OnResponse(kPackagePath, ScriptConnection::Pieces(package, package.size() / 20 + 1, 100));
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    // The download blocks the dialog, so its texts can be read again only
    // once the message box runs a message loop.
    Click(dialog, IDC_UPDATE);
    HWND box = updater->WaitForWindow(kMessageCaption);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
    EXPECT_EQ(ControlText(box, 0xFFFF),
              L"圧縮ファイルを展開します。\r\nソフトをインストールしたフォルダ（harun_tesli.exeがあるフォルダ）"
              L"に全てのファイルを上書きしてください。");
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), L"解凍します");
    EXPECT_TRUE(SameBytes(FileInFolder("update.exe"), package));
    EXPECT_FALSE(FileInFolder("package_ran.txt")) << "started before the player agreed";

    Click(box, IDOK);
    EXPECT_TRUE(updater->WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return FileInFolder("package_ran.txt") == "0"; }));
    EXPECT_FALSE(FileInFolder("game_args.txt"));
}

TEST_F(UpdaterTest, StalledServerDelaysStartByTimeoutsOnly)
{
    InstallGame();
    auto stall = [](ScriptConnection& c, const HttpRequest&) { c.Pause(60000); };
    server->On(kVersionPath, stall);
    server->On(kNewsPath, stall);
    auto start = GetTickCount64();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    // Two transfers, each given up after the 5 s receive timeout.
    EXPECT_LT(GetTickCount64() - start, 20000u);
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  0.00");
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), L"ニュースはありません");
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
}

// A second updater in the same folder, as a double-click gives, whose
// download is cut short while the first one's goes on: neither touches the
// other's download (a shared one would lose what the first had written
// beyond the cut), and the first installs and starts the exact package.
TEST_F(UpdaterTest, TwoUpdatersInOneFolderKeepTheirDownloadsApart)
{
    InstallGame();
    const std::string package = PackageProgram();
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(package.size()) + "\r\n\r\n";
    std::atomic<int> packageRequests{0};
    std::atomic<size_t> firstSent{0};
    server->On(kPackagePath, [&](ScriptConnection& c, const HttpRequest&) {
        if (packageRequests++ > 0) {
            c.Send(head + package.substr(0, package.size() / 10));
            return;
        }
        c.Send(head);
        for (size_t piece = package.size() / 20 + 1; firstSent < package.size(); c.Pause(150)) {
            size_t at = firstSent;
            c.Send(std::string_view(package).substr(at, piece));
            firstSent = at + std::min(piece, package.size() - at);
        }
    });
    HWND first = Start();
    ASSERT_NE(first, nullptr);
    UpdaterProcess second(folder.Path() + "\\updater_Orvantis.exe", folder.Path());
    HWND secondDialog = second.WaitForWindow(kCaption);
    ASSERT_NE(secondDialog, nullptr);

    // The second starts once the first has written a good part of its download.
    Click(first, IDC_UPDATE);
    ASSERT_TRUE(WaitUntil([&] { return firstSent >= package.size() / 3; }));
    Click(secondDialog, IDC_UPDATE);
    EXPECT_TRUE(WaitUntil([&] { return ControlText(secondDialog, IDC_NEWS) == L"ダウンロードに失敗しました"; }));
    ExpectPackageInstalledAndStarted(package);

    Click(secondDialog, IDC_QUIT);
    EXPECT_TRUE(second.WaitForExit());
    for (const std::string& entry : folder.Entries())
        EXPECT_EQ(entry.find(".part"), std::string::npos) << entry << " was left";
}

// A shortcut may start the updater with the installation folder as its
// working folder while the updater lies elsewhere, beside an old package and
// another game: the version is read, the package written and started, and
// the game started, all in the working folder.
TEST_F(UpdaterTest, WorkingFolderIsTheOneFolderUsed)
{
    InstallGame();
    const std::string own = folder.Path() + "\\own";
    ASSERT_TRUE(CreateDirectoryA(own.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "updater_Orvantis.exe").c_str(), (own + "\\updater_Orvantis.exe").c_str(),
                          FALSE));
    // Started by mistake, either records so: the "game" as a package would,
    // the old "package" as a game would.
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "test_package.exe").c_str(), (own + "\\harun_tesli.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "game_1_5_0_0.exe").c_str(), (own + "\\update.exe").c_str(), FALSE));
    const std::optional<std::string> oldPackage = ReadWholeFile(own + "\\update.exe");
    const std::string package = PackageProgram();
    server->OnFile(kPackagePath, package);

    HWND dialog = Start(own + "\\updater_Orvantis.exe");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_CURRENT), L"現在のバージョン  1.04");
    Click(dialog, IDC_UPDATE);
    ExpectPackageInstalledAndStarted(package);
    EXPECT_FALSE(FileInFolder("game_args.txt")) << "the old package beside the updater was started";
    EXPECT_TRUE(SameBytes(ReadWholeFile(own + "\\update.exe"), *oldPackage));

    ASSERT_TRUE(DeleteFileA((folder.Path() + "\\package_ran.txt").c_str()));
    dialog = Start(own + "\\updater_Orvantis.exe");
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_WINDOW);
    EXPECT_TRUE(updater->WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return FileInFolder("game_args.txt") == "window\n"; }));
    EXPECT_FALSE(FileInFolder("package_ran.txt")) << "the game beside the updater was started";
}

// What a click on Update leads to, by build and server: the package starts
// only when it arrived whole (and, with a key built in, verified); anything
// else is a failed download the player can retry, with nothing started.
struct UpdateCase {
    const char* name;
    const char* build;     // the updater build put in place
    const char* signature; // served from the test crypto folder, or nullptr for none
    bool changePackage;    // one byte of the package changed in transit
    int packageStatus;
    bool installs;
};

class UpdateTest : public UpdaterTest, public testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateTest, StartsOnlyAWholeVerifiedPackage)
{
    const UpdateCase& c = GetParam();
    UseBuild(c.build);
    InstallGame();
    const std::string package = PackageProgram();
    std::string served = package;
    if (c.changePackage)
        served[served.size() / 2] ^= 0x01;
    server->OnFile(kPackagePath, served, c.packageStatus);
    if (c.signature)
        server->OnFile(kPackagePath + ".sig",
                       ReadWholeFile(std::string(UPDATER_TEST_CRYPTO_DIR) + c.signature).value());
    const std::string stalePackage = "MZ stale package of an earlier run";
    ASSERT_TRUE(WriteWholeFile(folder.Path() + "\\update.exe", stalePackage));

    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  1.05");
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), kNewsShown);
    Click(dialog, IDC_UPDATE);
    if (c.installs) {
        ExpectPackageInstalledAndStarted(package);
        return;
    }
    EXPECT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_NEWS) == L"ダウンロードに失敗しました"; }));
    EXPECT_EQ(updater->WaitForWindow(kMessageCaption, 1000), nullptr);
    EXPECT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
    EXPECT_TRUE(StillRunning());
    EXPECT_TRUE(SameBytes(FileInFolder("update.exe"), stalePackage));
    EXPECT_FALSE(FileInFolder("update.exe.part"));
    Click(dialog, IDC_QUIT);
    EXPECT_TRUE(updater->WaitForExit());
    EXPECT_FALSE(FileInFolder("package_ran.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Builds, UpdateTest,
    testing::Values(UpdateCase{"package_not_found", "updater_Orvantis.exe", nullptr, false, 404, false},
                    UpdateCase{"https_trusted_certificate", "updater_https.exe", nullptr, false, 200, true},
                    UpdateCase{"signed_and_verified", "updater_signed.exe", "test_package.rsa2048.sig", false, 200,
                               true},
                    UpdateCase{"signed_but_changed", "updater_signed.exe", "test_package.rsa2048.sig", true, 200,
                               false}),
    [](const testing::TestParamInfo<UpdateCase>& info) { return std::string(info.param.name); });

// Every transfer of a start and an update (version file, news, signature,
// package) leaves nothing in the player's Internet cache: the updater never
// reads it, and a copy there would be a second package on the player's disk.
TEST_F(UpdaterTest, LeavesNothingInTheInternetCache)
{
    const std::string ours = "http://127.0.0.1:" + std::to_string(UPDATER_TEST_PORT) + "/";
    // What earlier builds may have left in this prefix.
    for (const std::string& url : CachedUrls(ours))
        DeleteUrlCacheEntryA(url.c_str());
    ASSERT_EQ(CachedUrls(ours), std::vector<std::string>{});
    UseBuild("updater_signed.exe");
    InstallGame();
    const std::string package = PackageProgram();
    server->OnFile(kPackagePath, package);
    server->OnFile(kPackagePath + ".sig",
                         ReadWholeFile(std::string(UPDATER_TEST_CRYPTO_DIR) + "test_package.rsa2048.sig").value());
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_UPDATE);
    ExpectPackageInstalledAndStarted(package);
    EXPECT_EQ(server->Requests().size(), 4u);
    EXPECT_EQ(CachedUrls(ours), std::vector<std::string>{});
}

TEST_F(UpdaterTest, HttpsServerWithUntrustedCertificateIsUnreachable)
{
    UseBuild("updater_https_untrusted.exe");
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  0.00");
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), L"ニュースはありません");
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    EXPECT_TRUE(server->Requests().empty()) << "nothing may be sent over a refused channel";
}

TEST_F(UpdaterTest, CheckerPrintsWhatTheDialogShows)
{
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    const std::wstring latest = ControlText(dialog, IDC_LATEST);
    const std::wstring current = ControlText(dialog, IDC_CURRENT);
    const std::wstring news = ControlText(dialog, IDC_NEWS);
    const bool updateEnabled = ControlEnabled(dialog, IDC_UPDATE);
    Click(dialog, IDC_QUIT);
    ASSERT_TRUE(updater->WaitForExit());

    // The checker's built-in server is the updater's.
    const std::string temp = folder.Path() + "\\checker_temp";
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
    std::optional<CheckerRun> run =
        RunChecker("--no-package --game harun_tesli.exe", folder.Path(), temp, temp);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->exitCode, 0u);
    EXPECT_NE(run->output.find(L"\n  " + latest + L"\n"), std::wstring::npos);
    EXPECT_NE(run->output.find(L"\n  " + current + L"\n"), std::wstring::npos);
    EXPECT_NE(run->output.find(updateEnabled ? L"Update  enabled" : L"Update  disabled"), std::wstring::npos);
    std::wstring newsLines = L"    | " + news + L"\n";
    for (size_t at = 0; (at = newsLines.find(L"\r\n", at)) != std::wstring::npos;)
        newsLines.replace(at, 2, L"\n    | ");
    EXPECT_NE(run->output.find(newsLines), std::wstring::npos);
}

// The updater exactly as it ships, as built and signed with Authenticode. Its
// built-in server is under .example and never resolves: no version, no news,
// and the game still starts. Its name is looked up, so only a network without
// any other address may run it.
struct ShippedBuild {
    const char* name;
    std::string (*folder)();
};

class ReleaseProgramTest : public UpdaterTest, public testing::WithParamInterface<ShippedBuild> {};

TEST_P(ReleaseProgramTest, WithItsBuiltInServerStillLaunchesAndQuits)
{
    const char* network = std::getenv("UPDATER_TEST_NETWORK");
    if (!network || std::string(network) != "loopback-only")
        GTEST_SKIP() << "needs a network with only the loopback interface, as scripts/test gives";
    const std::string program = GetParam().folder() + "updater_Orvantis.exe";
    ASSERT_TRUE(CopyFileA(program.c_str(), (folder.Path() + "\\updater_Orvantis.exe").c_str(), FALSE))
        << "no " << program << ": build the win32-release preset first";
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  0.00");
    EXPECT_EQ(ControlText(dialog, IDC_CURRENT), L"現在のバージョン  1.04");
    EXPECT_EQ(ControlText(dialog, IDC_NEWS), L"ニュースはありません");
    EXPECT_FALSE(ControlEnabled(dialog, IDC_UPDATE));
    Click(dialog, IDC_WINDOW);
    EXPECT_TRUE(updater->WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return FileInFolder("game_args.txt") == "window\n"; }));

    ASSERT_TRUE(DeleteFileA((folder.Path() + "\\game_args.txt").c_str()));
    dialog = Start();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, IDC_QUIT);
    EXPECT_TRUE(updater->WaitForExit());
    EXPECT_FALSE(WaitUntil([&] { return FileInFolder("game_args.txt").has_value(); }, 1000));
    EXPECT_TRUE(server->Requests().empty());
}

std::string BuildName(const testing::TestParamInfo<ShippedBuild>& info)
{
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Release, ReleaseProgramTest, testing::Values(ShippedBuild{"as_built", ReleaseFolder}),
                         BuildName);
// Discovered apart: the signed copy is made by a fixture of its own.
INSTANTIATE_TEST_SUITE_P(SignedRelease, ReleaseProgramTest,
                         testing::Values(ShippedBuild{"signed_with_Authenticode", SignedReleaseFolder}), BuildName);

struct LaunchCase {
    int button;
    const char* words;
};

class LaunchTest : public UpdaterTest, public testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchTest, StartsGameWithModeAndCloses)
{
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    Click(dialog, GetParam().button);
    EXPECT_TRUE(updater->WaitForExit());
    EXPECT_TRUE(WaitUntil([&] { return FileInFolder("game_args.txt") == GetParam().words; }));
    if (UINT codePage = ExpectedCodePage()) {
        EXPECT_TRUE(WaitUntil([&] { return FileInFolder("game_acp.txt") == std::to_string(codePage); }));
    }
}

INSTANTIATE_TEST_SUITE_P(Buttons, LaunchTest,
                         testing::Values(LaunchCase{IDC_FULLSCREEN, "fullscreen\n"},
                                         LaunchCase{IDC_WINDOW, "window\n"}));

struct CloseCase {
    const char* name;
    void (*close)(HWND dialog);
};

class CloseTest : public UpdaterTest, public testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, ClosesWithoutStartingAnything)
{
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    GetParam().close(dialog);
    EXPECT_TRUE(updater->WaitForExit()) << GetParam().name;
    EXPECT_FALSE(FileInFolder("game_args.txt"));
    EXPECT_FALSE(FileInFolder("update.exe"));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CloseTest,
    testing::Values(
        CloseCase{"Quit", [](HWND dialog) { Click(dialog, IDC_QUIT); }},
        CloseCase{"close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        CloseCase{"Esc", [](HWND dialog) { PressKey(GetDlgItem(dialog, IDC_NEWS), VK_ESCAPE); }},
        CloseCase{"Enter in the latest line", [](HWND dialog) {
                      PressKey(GetDlgItem(dialog, IDC_LATEST), VK_RETURN);
                  }},
        CloseCase{"Enter in the current line", [](HWND dialog) {
                      PressKey(GetDlgItem(dialog, IDC_CURRENT), VK_RETURN);
                  }}));

TEST_F(UpdaterTest, EnterInNewsAddsLine)
{
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    HWND news = GetDlgItem(dialog, IDC_NEWS);
    SendMessageW(news, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF);
    PressKey(news, VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return ControlText(dialog, IDC_NEWS) == kNewsShown + L"\r\n"; }))
        << "news box holds: " << ControlText(dialog, IDC_NEWS).size() << " characters";
    EXPECT_TRUE(StillRunning());
}

struct AboutCloseCase {
    const char* name;
    void (*close)(HWND about);
};

class AboutTest : public UpdaterTest, public testing::WithParamInterface<AboutCloseCase> {};

TEST_P(AboutTest, OpensFromSystemMenuAndClosesBackToUpdater)
{
    InstallGame();
    HWND dialog = Start();
    ASSERT_NE(dialog, nullptr);
    PostMessageW(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = updater->WaitForWindow(kAboutCaption);
    ASSERT_NE(about, nullptr);
    EXPECT_NE(FindWindowExW(about, nullptr, L"Static", L"updater_Orvantis, Version 1.0"), nullptr);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(dialog); })) << "the About box is modal";

    GetParam().close(about);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); })) << GetParam().name;
    EXPECT_TRUE(StillRunning());
    EXPECT_TRUE(IsWindowEnabled(dialog));
    EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  1.05");
}

INSTANTIATE_TEST_SUITE_P(
    Ways, AboutTest,
    testing::Values(
        AboutCloseCase{"OK", [](HWND about) { Click(about, IDOK); }},
        AboutCloseCase{"Enter", [](HWND about) { PressKey(GetDlgItem(about, IDOK), VK_RETURN); }},
        AboutCloseCase{"Esc", [](HWND about) { PressKey(GetDlgItem(about, IDOK), VK_ESCAPE); }},
        AboutCloseCase{"close box",
                       [](HWND about) { PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0); }}));

} // namespace
