// The chaos server: each case answers the three files with misbehaviours
// drawn from a table by a seed, runs the start-up fetches and the download as
// the updater does, and checks the promises players rely on. The test
// command runs a fixed seed; scripts/chaos runs seeds for longer.
//
// UPDATER_CHAOS_SEED (default 21), UPDATER_CHAOS_FIRST (0) and
// UPDATER_CHAOS_CASES (8) choose the cases.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "bytes_equal.h"
#include "chaos_cases.h"
#include "script_server.h"
#include "test_folder.h"
#include "update_source.h"
#include "version_info.h"

namespace {

const std::string kFiles[] = {"version.dat", "text.txt", "update.exe"};
const std::string kNoNews = "ニュースはありません";
const std::string kOldPackage = "MZ old package left by an earlier run";

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
    }
    return nullptr;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(Chaos, EveryCaseKeepsThePromises)
{
    const uint64_t seed = Setting("UPDATER_CHAOS_SEED", 21);
    const uint64_t first = Setting("UPDATER_CHAOS_FIRST", 0);
    const uint64_t cases = Setting("UPDATER_CHAOS_CASES", 8);
    std::string news;
    while (news.size() < 5000)
        news += "お知らせ: 新しいステージを追加しました。\r\n";
    const std::string bodies[] = {"version=1,7;", news, PackageBytes(300 * 1024 + 17, 21)};
    for (uint64_t index = first; index < first + cases; ++index) {
        const ChaosCase c = DrawCase(seed, index);
        const Misbehaviour answers[] = {c.version, c.news, c.package};
        const std::string name = "case " + std::to_string(index) + " (" + MisbehaviourName(c.version) + ", " +
                                 MisbehaviourName(c.news) + ", " + MisbehaviourName(c.package) +
                                 "); reproduce: scripts/chaos --seed " + std::to_string(seed) + " --case " +
                                 std::to_string(index);
        SCOPED_TRACE(name);
        TestFolder folder;
        ScriptServer server;
        ASSERT_TRUE(server.Listening());
        for (int file = 0; file < 3; ++file) {
            const std::string path = kUpdatePath + kFiles[file];
            server.On(path, Answer(answers[file], path, bodies[file]));
            server.On(path + ".moved", Answer(Misbehaviour::Clean, path, bodies[file]));
        }
        WriteWholeFile("update.exe", kOldPackage);

        // The start-up fetches, in one shared time, as the dialog makes them.
        auto start = std::chrono::steady_clock::now();
        const auto fetchesEnd = CTransfer::Clock::now() + kStartupFetchTime;
        CVersionInfo info;
        info.FetchLatest(server.BaseUrl() + "version.dat", fetchesEnd);
        const std::string shown = FetchNews(CUpdateSource(server.BaseUrl()), fetchesEnd).news.value_or(kNoNews);
        EXPECT_LT(SecondsSince(start), 12.0) << "the window would show late";
        switch (ForVersionOrNews(c.version)) {
        case Expected::File: EXPECT_EQ(info.m_nRemote, 1007); break;
        case Expected::Fallback: EXPECT_EQ(info.m_nRemote, 0); break;
        case Expected::Either: EXPECT_TRUE(info.m_nRemote == 1007 || info.m_nRemote == 0) << info.m_nRemote; break;
        }
        switch (ForNews(c.version, c.news)) {
        case Expected::File: EXPECT_TRUE(SameBytes(shown, news)); break;
        case Expected::Fallback: EXPECT_TRUE(SameBytes(shown, kNoNews)); break;
        case Expected::Either:
            EXPECT_TRUE(shown == kNoNews || news.compare(0, shown.size(), shown) == 0) << shown.size();
            break;
        }

        start = std::chrono::steady_clock::now();
        const DownloadOutcome outcome = CDownloadJob("update.exe", server.BaseUrl(), "").Run().outcome;
        EXPECT_LT(SecondsSince(start), 35.0) << "the download outlived its floor";
        const bool installs = ForPackage(c.package) == Expected::File;
        EXPECT_EQ(outcome == DownloadOutcome::Installed, installs) << static_cast<int>(outcome);
        EXPECT_TRUE(SameBytes(ReadWholeFile("update.exe"), installs ? bodies[2] : kOldPackage));
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{"update.exe"}) << "a temporary file was left";
    }
}

} // namespace
