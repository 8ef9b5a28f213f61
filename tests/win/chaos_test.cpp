// The chaos server: each case answers the three files with misbehaviours
// drawn from a table by a seed. The publisher runs the server checker
// against it; a player starts the real updater in a fresh installation
// folder and clicks Update. After every case the promises players rely on
// are checked. The test command runs a fixed seed; scripts/chaos runs seeds
// for longer.
//
// UPDATER_CHAOS_SEED (default 8), UPDATER_CHAOS_FIRST (0) and
// UPDATER_CHAOS_CASES (8) choose the cases.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "bytes_equal.h"
#include "chaos_cases.h"
#include "checker_run.h"
#include "resource.h"
#include "script_server.h"
#include "test_files.h"
#include "transfer_bounds.h"
#include "updater_driver.h"

namespace {

const std::wstring kCaption = L"Orvantis updater v1.00";
const std::wstring kMessageCaption = L"updater_Orvantis";
const std::wstring kNoNews = L"ニュースはありません";
const std::wstring kFailed = L"ダウンロードに失敗しました";
const std::wstring kLatest = L"最新バージョン  1.07";
const std::wstring kNoLatest = L"最新バージョン  0.00";
const std::string kVersionFile = "version=1,7;";
const std::string kFiles[] = {"version.dat", "text.txt", "update.exe"};
const std::string kOldPackage = "MZ old package left by an earlier run";
// A download's answer head, under its floor, ends within the progress
// window; the rest is the margin of a loaded machine.
constexpr DWORD kDownloadBoundMs =
    static_cast<DWORD>(std::chrono::milliseconds(kProgressWindow).count()) + 15000;
// The checker's: its start-up fetches, one download, its own start.
constexpr DWORD kCheckerBoundMs =
    static_cast<DWORD>(std::chrono::milliseconds(kStartupFetchTime + kProgressWindow).count()) + 15000;

uint64_t Setting(const char* name, uint64_t fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

std::string PaddedLength(size_t length)
{
    std::string digits = std::to_string(length);
    return std::string(300 - digits.size(), '0') + digits;
}

// A file cut at 40% after a strong ETag, and a request for the rest answered
// as m says.
ScriptServer::Handler Dropped(Misbehaviour m, const std::string& body)
{
    return [m, body](ScriptConnection& c, const HttpRequest& request) {
        const size_t size = body.size(), at = size * 4 / 10;
        auto answer = [&c](int status, const std::string& headers, const std::string& bytes) {
            c.Send("HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n" + headers +
                   "Content-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + bytes);
        };
        auto range = [size](size_t from, size_t total) {
            return "Content-Range: bytes " + std::to_string(from) + "-" + std::to_string(total - 1) + "/" +
                   std::to_string(total) + "\r\n";
        };
        const std::string strong = "ETag: \"v1\"\r\nAccept-Ranges: bytes\r\n";
        if (request.head.find("\r\nRange: bytes=") == std::string::npos) {
            c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n" + strong + "Content-Length: " + std::to_string(size) +
                   "\r\n\r\n" + body.substr(0, at));
            return;
        }
        switch (m) {
        case Misbehaviour::DroppedResumed:
            return answer(206, strong + range(at, size), body.substr(at));
        case Misbehaviour::DroppedWhole:
            return answer(200, strong, body);
        case Misbehaviour::Dropped416:
            return answer(416, "Content-Range: bytes */" + std::to_string(size) + "\r\n", "");
        case Misbehaviour::DroppedElsewhere:
            return answer(206, strong + range(at / 2, size), body.substr(at / 2));
        case Misbehaviour::DroppedOtherTotal:
            return answer(206, strong + range(at, size + 10), body.substr(at) + std::string(10, 'x'));
        case Misbehaviour::DroppedOtherTag:
            return answer(206, "ETag: \"v2\"\r\n" + range(at, size), body.substr(at));
        default:
            return answer(206, "Content-Type: multipart/byteranges; boundary=x\r\n",
                          "--x\r\n" + range(at, size) + "\r\n" + body.substr(at) + "\r\n--x--\r\n");
        }
    };
}

// The answer to path, whose file holds body, misbehaving as m.
ScriptServer::Handler Answer(Misbehaviour m, const std::string& path, const std::string& body)
{
    const std::string cut = body.substr(0, body.size() * 6 / 10);
    auto raw = [](std::string bytes) {
        return [bytes](ScriptConnection& c, const HttpRequest&) { c.Send(bytes); };
    };
    auto redirect = [](std::string location) {
        return [location](ScriptConnection& c, const HttpRequest&) {
            ScriptConnection::Response response;
            response.status = 302;
            response.extraHeaders = "Location: " + location + "\r\n";
            c.Respond(response);
        };
    };
    const std::string ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    switch (m) {
    case Misbehaviour::Clean:
        return raw(ok + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    case Misbehaviour::Trickled:
        return [body](ScriptConnection& c, const HttpRequest&) {
            c.Respond(ScriptConnection::Pieces(body, body.size() / 8 + 1, 50));
        };
    case Misbehaviour::Redirected:
        return redirect(path + ".moved");
    case Misbehaviour::KeptAliveDropped:
        return [body](ScriptConnection& c, const HttpRequest&) {
            ScriptConnection::Response response;
            response.body = body;
            response.keepAlive = true;
            c.Respond(response);
            if (c.NextRequest())
                c.Reset();
        };
    case Misbehaviour::Chunked:
        return [body](ScriptConnection& c, const HttpRequest&) {
            c.Respond(ScriptConnection::Pieces(body, 4000, 0, true));
        };
    case Misbehaviour::NotFound:
        return raw("HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body);
    case Misbehaviour::ServerError:
        return raw("HTTP/1.1 500 Oops\r\nConnection: close\r\nContent-Length: 4\r\n\r\noops");
    case Misbehaviour::ClosedBeforeHead:
        return raw("");
    case Misbehaviour::BareBody:
        return raw(body);
    case Misbehaviour::StalledHead:
        return [](ScriptConnection& c, const HttpRequest&) { c.Pause(8000); };
    case Misbehaviour::DrippingHead:
        return [](ScriptConnection& c, const HttpRequest&) {
            for (char byte : "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(100, 'p')) {
                if (!c.Send(std::string(1, byte)))
                    return;
                c.Pause(1000);
            }
        };
    case Misbehaviour::RedirectLoop:
        return redirect(path);
    case Misbehaviour::CutWithLength:
        return raw(ok + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + cut);
    case Misbehaviour::CutWithoutLength:
        return raw("HTTP/1.0 200 OK\r\nServer: old\r\n\r\n" + cut);
    case Misbehaviour::ChunkedCut: {
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", cut.size());
        return raw(ok + "Transfer-Encoding: chunked\r\n\r\n" + size + cut + "\r\n-5\r\n");
    }
    case Misbehaviour::PaddedLengthCut:
        return raw(ok + "Content-Length: " + PaddedLength(body.size()) + "\r\n\r\n" + cut);
    case Misbehaviour::LongEncodingList: {
        std::string list = "gzip";
        while (list.size() < 300)
            list += ", identity";
        return raw(ok + "Content-Encoding: " + list + "\r\nContent-Length: " + std::to_string(body.size()) +
                   "\r\n\r\n" + body);
    }
    case Misbehaviour::PartialContent:
        return raw("HTTP/1.1 206 Partial Content\r\nConnection: close\r\nContent-Length: " +
                   std::to_string(body.size() / 2) + "\r\n\r\n" + body.substr(0, body.size() / 2));
    case Misbehaviour::TwoLengths:
        return raw(ok + "Content-Length: " + std::to_string(body.size() / 2) +
                   "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    case Misbehaviour::Pipelined:
        return raw("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body +
                   "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\nPIPELINED-JUNK!");
    case Misbehaviour::DroppedWeak:
        return raw(ok + "ETag: W/\"v1\"\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                   body.substr(0, body.size() * 4 / 10));
    default:
        return Dropped(m, body);
    }
}

class ChaosCaseRun {
public:
    ChaosCaseRun(uint64_t seed, uint64_t index) : m_case(DrawCase(seed, index))
    {
        while (m_news.size() < 5000) {
            m_news += "お知らせ: 新しいステージを追加しました。\r\n";
            m_newsShown += L"お知らせ: 新しいステージを追加しました。\r\n";
        }
        m_package = ReadWholeFile(ProgramFolder() + "test_package.exe").value_or("");
    }

    void Run()
    {
        ASSERT_TRUE(m_server.Listening()) << "port " << UPDATER_CHAOS_PORT << " is taken";
        ASSERT_FALSE(m_package.empty());
        ASSERT_TRUE(CopyFileA((ProgramFolder() + "updater_chaos.exe").c_str(), InFolder("updater_Orvantis.exe").c_str(),
                              FALSE));
        ASSERT_TRUE(
            CopyFileA((ProgramFolder() + "game_1_4_0_0.exe").c_str(), InFolder("harun_tesli.exe").c_str(), FALSE));
        ASSERT_TRUE(WriteWholeFile(InFolder("update.exe"), kOldPackage));
        Serve(m_case.version, m_case.news);
        const std::string packagePath = kUpdatePath + kFiles[2];
        m_server.On(packagePath, Answer(m_case.package, packagePath, m_package));
        m_server.On(packagePath + ".moved", Answer(Misbehaviour::Clean, packagePath, m_package));

        PublisherChecks();
        PlayerUpdates();
    }

private:
    std::string InFolder(const std::string& name) const { return PathOf(m_folder) + "\\" + name; }

    void Serve(Misbehaviour version, Misbehaviour news)
    {
        const std::string* bodies[] = {&kVersionFile, &m_news};
        const Misbehaviour answers[] = {version, news};
        for (int file = 0; file < 2; ++file) {
            const std::string path = kUpdatePath + kFiles[file];
            m_server.On(path, Answer(answers[file], path, *bodies[file]));
            m_server.On(path + ".moved", Answer(Misbehaviour::Clean, path, *bodies[file]));
        }
    }

    // The checker ends within its bound and calls the server broken exactly
    // when players meet a fault.
    void PublisherChecks()
    {
        const std::string checker = InFolder("checker");
        ASSERT_TRUE(CreateDirectoryA(checker.c_str(), nullptr));
        const std::string url = "http://127.0.0.1:" + std::to_string(UPDATER_CHAOS_PORT) + kUpdatePath;
        std::optional<CheckerRun> run = RunChecker("--game harun_tesli.exe " + url, PathOf(m_folder), checker, checker,
                                                   ProgramFolder() + "updater_check.exe", kCheckerBoundMs);
        ASSERT_TRUE(run) << "the checker did not end within " << kCheckerBoundMs << " ms";
        EXPECT_EQ(run->exitCode, ServerBroken(m_case) ? 1u : 0u) << run->output;
    }

    // Starts the updater as a player does: the dialog, which shows within
    // 20 s, with the version and news the rules give for what was served.
    HWND Start(UpdaterProcess& updater, Misbehaviour version, Misbehaviour news)
    {
        EXPECT_TRUE(updater.Started());
        HWND dialog = updater.WaitForWindow(kCaption);
        if (!dialog) {
            ADD_FAILURE() << "no window within 20 s";
            return nullptr;
        }
        const std::wstring latest = ControlText(dialog, IDC_LATEST);
        switch (ForVersionOrNews(version)) {
        case Expected::File: EXPECT_EQ(latest, kLatest); break;
        case Expected::Fallback: EXPECT_EQ(latest, kNoLatest); break;
        case Expected::Either: EXPECT_TRUE(latest == kLatest || latest == kNoLatest); break;
        }
        const std::wstring shown = ControlText(dialog, IDC_NEWS);
        const bool noNews = shown == kNoNews;
        // A body cut may end inside a two-byte character.
        const size_t whole = shown.empty() ? 0 : shown.size() - 1;
        const bool partOfNews =
            shown.size() <= m_newsShown.size() && m_newsShown.compare(0, whole, shown, 0, whole) == 0;
        const std::string what = noNews ? "the no-news text" : std::to_string(shown.size()) + " characters";
        switch (ForNews(version, news)) {
        case Expected::File: EXPECT_TRUE(shown == m_newsShown) << "the news shown is " << what; break;
        case Expected::Fallback: EXPECT_TRUE(noNews) << "the news shown is " << what; break;
        case Expected::Either: EXPECT_TRUE(noNews || partOfNews) << "the news shown is " << what; break;
        }
        EXPECT_EQ(ControlEnabled(dialog, IDC_UPDATE), latest == kLatest);
        return dialog;
    }

    // The player clicks Update, once one is offered: the exact package served
    // is installed and, once the player agrees, started; or the download
    // fails, the old package byte for byte, nothing started, no file left.
    void PlayerUpdates()
    {
        auto updater = std::make_unique<UpdaterProcess>(InFolder("updater_Orvantis.exe"), PathOf(m_folder));
        HWND dialog = Start(*updater, m_case.version, m_case.news);
        ASSERT_NE(dialog, nullptr);
        if (!ControlEnabled(dialog, IDC_UPDATE)) {
            // No update offered: the player quits and comes back once the
            // server announces it whole.
            Click(dialog, IDC_QUIT);
            ASSERT_TRUE(updater->WaitForExit());
            EXPECT_EQ(updater->ExitCode(), 0u) << "the updater crashed";
            Serve(Misbehaviour::Clean, Misbehaviour::Clean);
            updater = std::make_unique<UpdaterProcess>(InFolder("updater_Orvantis.exe"), PathOf(m_folder));
            dialog = Start(*updater, Misbehaviour::Clean, Misbehaviour::Clean);
            ASSERT_NE(dialog, nullptr);
        }
        const std::vector<std::string> before = EntriesOf(m_folder);
        Click(dialog, IDC_UPDATE);
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                box = updater->WaitForWindow(kMessageCaption, 0);
                return box || ControlText(dialog, IDC_NEWS) == kFailed;
            },
            kDownloadBoundMs))
            << "the download outlived its bound";
        if (ForPackage(m_case.package) == Expected::File) {
            ASSERT_NE(box, nullptr) << "a whole package was not installed";
            EXPECT_TRUE(SameBytes(ReadWholeFile(InFolder("update.exe")), m_package));
            EXPECT_FALSE(ReadWholeFile(InFolder("package_ran.txt"))) << "started before the player agreed";
            Click(box, IDOK);
            ASSERT_TRUE(updater->WaitForExit());
            EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(InFolder("package_ran.txt")) == "0"; }))
                << "the package was not started";
        } else {
            ASSERT_EQ(box, nullptr) << "a package that may not be whole was installed";
            EXPECT_TRUE(SameBytes(ReadWholeFile(InFolder("update.exe")), kOldPackage));
            EXPECT_EQ(EntriesOf(m_folder), before) << "a file was left, or something started";
            Click(dialog, IDC_QUIT);
            ASSERT_TRUE(updater->WaitForExit());
        }
        EXPECT_EQ(updater->ExitCode(), 0u) << "the updater crashed";
    }

    const ChaosCase m_case;
    std::string m_news;
    std::wstring m_newsShown;
    std::string m_package;
    CTemporaryWorkingFolder m_folder{kTestFolderPrefix};
    ScriptServer m_server{UPDATER_CHAOS_PORT};
};

TEST(Chaos, EveryCaseKeepsThePromises)
{
    const uint64_t seed = Setting("UPDATER_CHAOS_SEED", 13065);
    const uint64_t first = Setting("UPDATER_CHAOS_FIRST", 0);
    const uint64_t cases = Setting("UPDATER_CHAOS_CASES", 8);
    for (uint64_t index = first; index < first + cases; ++index) {
        const ChaosCase c = DrawCase(seed, index);
        SCOPED_TRACE("case " + std::to_string(index) + " (" + MisbehaviourName(c.version) + ", " +
                     MisbehaviourName(c.news) + ", " + MisbehaviourName(c.package) +
                     "); reproduce: scripts/chaos --seed " + std::to_string(seed) + " --case " +
                     std::to_string(index));
        ChaosCaseRun(seed, index).Run();
    }
}

} // namespace
