// The real updater and the server checker against the web servers publishers
// run: nginx and Apache httpd, started by the tests' fixture
// (support/web_servers) on 127.0.0.1 with their plain static configurations,
// over http and https; and through the relay in front of each
// (support/web_relay.py), which drops the package's download.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "bytes_equal.h"
#include "checker_run.h"
#include "resource.h"
#include "test_files.h"
#include "updater_driver.h"

namespace {

// The folder both servers serve, and the fixture's folder of logs and
// relay controls, as Windows paths with a trailing backslash.
const std::string kUpdateFolder = UPDATER_WEB_ROOT "game\\veltrassa_01\\update\\";
const std::string kState = UPDATER_WEB_STATE;
const std::string kPackagePath = "/game/veltrassa_01/update/update.exe";
const std::wstring kCaption = L"Orvantis updater v1.00";
const std::wstring kMessageCaption = L"updater_Orvantis";
// Code page 932 bytes, as the publisher writes the news file.
const std::string kNews = "お知らせ\r\n新しいステージを追加しました。";
const std::wstring kNewsShown = L"お知らせ\r\n新しいステージを追加しました。";

std::string TestPackage()
{
    return ReadWholeFile(ProgramFolder() + "test_package.exe").value_or("");
}

// The test package with padding after its image, to size bytes: it still runs.
std::string PaddedPackage(size_t size)
{
    std::string package = TestPackage();
    package.resize(std::max(package.size(), size), '\0');
    return package;
}

// Uploads as docs/PUBLISHING.md has it: each file under a temporary name,
// renamed into place; the package first, version.dat last.
// Apache gives a file changed within the second before a request a weak
// ETag, which no resume may use; so the files are dated an hour back, as an
// upload made before the players come.
bool Publish(const std::string& name, const std::string& bytes)
{
    const std::string path = kUpdateFolder + name, upload = path + ".upload";
    if (!WriteWholeFile(upload, bytes))
        return false;
    HANDLE file = CreateFileA(upload.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= 3600ULL * 10000000ULL;
    const FILETIME past{time.LowPart, time.HighPart};
    const bool dated = SetFileTime(file, nullptr, nullptr, &past);
    CloseHandle(file);
    return dated && MoveFileExA(upload.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// A log a server or relay appends to: the lines written after the test began.
class LogTail {
public:
    explicit LogTail(std::string path) : m_path(std::move(path)), m_start(ReadWholeFile(m_path).value_or("").size()) {}
    std::vector<std::string> Lines() const
    {
        std::string text = ReadWholeFile(m_path).value_or("");
        return Split(text.substr(std::min(m_start, text.size())), '\n');
    }

private:
    std::string m_path;
    size_t m_start;
};

// The value of key=VALUE in a server's access log line, without the quotes
// and escapes of the log format; "" where the server logged none ("-"). The
// formats quote the values that hold spaces; an ETag, which holds quotes of
// its own, goes up to the next space.
std::string Logged(const std::string& line, const std::string& key)
{
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    at += key.size() + 2;
    const bool quoted = key != "etag" && at < line.size() && line[at] == '"';
    const size_t end = quoted ? line.find('"', at + 1) : line.find(' ', at);
    std::string value = line.substr(at + quoted, end == std::string::npos ? std::string::npos : end - at - quoted);
    value.erase(std::remove(value.begin(), value.end(), '\\'), value.end());
    return value == "-" ? "" : value;
}

// The value of the field that starts with key in a tab-separated relay line.
std::string Field(const std::string& line, const std::string& key)
{
    for (const std::string& field : Split(line, '\t')) {
        if (field.rfind(key, 0) == 0)
            return field.substr(key.size());
    }
    return "";
}

class WebServerFixture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CopyFileA((ProgramFolder() + "game_1_4_0_0.exe").c_str(),
                              (PathOf(folder) + "\\harun_tesli.exe").c_str(), FALSE));
    }

    void PublishUpdate(const std::string& package)
    {
        ASSERT_TRUE(Publish("update.exe", package)) << "cannot write into " << kUpdateFolder;
        ASSERT_TRUE(Publish("text.txt", kNews));
        ASSERT_TRUE(Publish("version.dat", "version=1,5;"));
    }

    std::optional<std::string> FileInFolder(const char* name) { return ReadWholeFile(PathOf(folder) + "\\" + name); }

    // The player's whole path with this build: the dialog as the server
    // announces it, Update, the package arrives whole, is started, and the
    // updater closes.
    void PlayerUpdates(const char* build, const std::string& package)
    {
        ASSERT_TRUE(CopyFileA((ProgramFolder() + build).c_str(), (PathOf(folder) + "\\updater_Orvantis.exe").c_str(),
                              FALSE))
            << "no " << build;
        UpdaterProcess updater(PathOf(folder) + "\\updater_Orvantis.exe", PathOf(folder));
        HWND dialog = updater.WaitForWindow(kCaption);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(ControlText(dialog, IDC_LATEST), L"最新バージョン  1.05");
        EXPECT_EQ(ControlText(dialog, IDC_CURRENT), L"現在のバージョン  1.04");
        EXPECT_EQ(ControlText(dialog, IDC_NEWS), kNewsShown);
        ASSERT_TRUE(ControlEnabled(dialog, IDC_UPDATE));
        Click(dialog, IDC_UPDATE);
        const std::wstring failed = L"ダウンロードに失敗しました";
        HWND box = nullptr;
        WaitUntil(
            [&] {
                box = updater.WaitForWindow(kMessageCaption, 0);
                return box || ControlText(dialog, IDC_NEWS) == failed;
            },
            60000);
        ASSERT_NE(box, nullptr) << (ControlText(dialog, IDC_NEWS) == failed ? "the download failed"
                                                                            : "no prompt within 60 s");
        EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
        EXPECT_TRUE(SameBytes(FileInFolder("update.exe"), package));
        EXPECT_FALSE(FileInFolder("package_ran.txt")) << "started before the player agreed";
        Click(box, IDOK);
        EXPECT_TRUE(updater.WaitForExit());
        EXPECT_TRUE(WaitUntil([&] { return FileInFolder("package_ran.txt") == "0"; }));
        EXPECT_FALSE(FileInFolder("game_args.txt"));
        for (const std::string& entry : EntriesOf(folder))
            EXPECT_EQ(entry.find(".part"), std::string::npos) << entry << " was left";
    }

    CTemporaryWorkingFolder folder{kTestFolderPrefix};
};

struct ServerCase {
    const char* name;
    const char* build;  // the updater built for this server's URL
    std::string url;    // the update directory, for the checker
    const char* server; // the folder of the server's logs in the fixture's state
};

class WebServerTest : public WebServerFixture, public testing::WithParamInterface<ServerCase> {};

TEST_P(WebServerTest, PlayerUpdatesFromIt)
{
    const ServerCase& c = GetParam();
    const std::string package = TestPackage();
    PublishUpdate(package);
    LogTail log(kState + c.server + "\\access.log");
    PlayerUpdates(c.build, package);

    // As the server logged them: each file whole, once, without a range; the
    // package with what a resume needs, a strong ETag and byte ranges.
    std::vector<std::string> lines = log.Lines();
    for (const std::string& line : lines)
        std::cout << c.server << " answered: " << line << "\n";
    ASSERT_EQ(lines.size(), 3u);
    const char* files[] = {"version.dat", "text.txt", "update.exe"};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(lines[i]);
        EXPECT_EQ(lines[i].rfind(std::string("GET /game/veltrassa_01/update/") + files[i] + " HTTP/1.1 200 ", 0), 0u);
        EXPECT_EQ(Logged(lines[i], "range"), "");
        EXPECT_EQ(Logged(lines[i], "if_range"), "");
    }
    SCOPED_TRACE(lines[2]);
    EXPECT_EQ(Logged(lines[2], "bytes"), std::to_string(package.size()));
    EXPECT_EQ(Logged(lines[2], "accept_ranges"), "bytes");
    const std::string etag = Logged(lines[2], "etag");
    EXPECT_TRUE(etag.size() > 2 && etag.front() == '"' && etag.back() == '"') << "no strong ETag";
    EXPECT_NE(Logged(lines[2], "last_modified"), "");
}

TEST_P(WebServerTest, CheckerPassesIt)
{
    PublishUpdate(TestPackage());
    const std::string cwd = PathOf(folder) + "\\cwd", temp = PathOf(folder) + "\\tmp";
    ASSERT_TRUE(CreateDirectoryA(cwd.c_str(), nullptr) && CreateDirectoryA(temp.c_str(), nullptr));
    std::optional<CheckerRun> run =
        RunChecker("--game \"" + PathOf(folder) + "\\harun_tesli.exe\" --new-game \"" + ProgramFolder() +
                       "game_1_5_0_0.exe\" --package \"" + ProgramFolder() + "test_package.exe\" " + GetParam().url,
                   cwd, temp, PathOf(folder));
    ASSERT_TRUE(run);
    EXPECT_EQ(run->exitCode, 0u) << run->errors << run->output;
    EXPECT_NE(run->output.find(L"\nOK: players are served as intended\n"), std::wstring::npos) << run->output;
    EXPECT_NE(run->output.find(L"  Update  enabled"), std::wstring::npos) << run->output;
    EXPECT_EQ(FolderEntries(temp), std::vector<std::string>{});
}

std::string Https(int port) { return "https://localhost:" + std::to_string(port) + "/game/veltrassa_01/update/"; }
std::string Http(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/game/veltrassa_01/update/"; }

INSTANTIATE_TEST_SUITE_P(
    Servers, WebServerTest,
    testing::Values(ServerCase{"nginx_http", "updater_nginx.exe", Http(28490), "nginx"},
                    ServerCase{"nginx_https", "updater_nginx_https.exe", Https(28491), "nginx"},
                    ServerCase{"apache_http", "updater_apache.exe", Http(28492), "apache"},
                    ServerCase{"apache_https", "updater_apache_https.exe", Https(28493), "apache"}),
    [](const testing::TestParamInfo<ServerCase>& info) { return std::string(info.param.name); });

// A download the relay cuts at 40 % of each answer's body, once or several
// times, by a close or a reset; or the package replaced on the server by one
// of another size between the drop and the next request.
struct ResumeCase {
    const char* name;
    const char* build; // the updater built for the relay's port
    const char* relay; // relay_nginx or relay_apache
    int drops;
    const char* how;
    bool replaced = false;
};

class ResumeTest : public WebServerFixture, public testing::WithParamInterface<ResumeCase> {};

TEST_P(ResumeTest, GoesOnWithARangeAndInstallsTheExactPackage)
{
    const ResumeCase& c = GetParam();
    const std::string package = PaddedPackage(1800 * 1024), replacement = PaddedPackage(1900 * 1024);
    PublishUpdate(package);
    std::string control = "{\"id\": \"" + std::string(c.name) + "-" + std::to_string(GetTickCount64()) +
                          "\", \"path\": \"" + kPackagePath + "\", \"fraction\": 0.4, \"drops\": " +
                          std::to_string(c.drops) + ", \"how\": \"" + c.how + "\"";
    if (c.replaced) {
        ASSERT_TRUE(Publish("update_next.exe", replacement));
        control += ", \"replace\": \"game/veltrassa_01/update/update.exe\", "
                   "\"with\": \"game/veltrassa_01/update/update_next.exe\"";
    }
    ASSERT_TRUE(WriteWholeFile(kState + c.relay + ".control", control + "}"));
    LogTail log(kState + c.relay + ".log");
    PlayerUpdates(c.build, c.replaced ? replacement : package);

    // What went over the relay for the package: the first request without a
    // range; after each drop a range from where the bytes stopped, guarded
    // by the first answer's ETag; the server's 206, or its 200 for the
    // replaced file.
    std::vector<std::string> requests, answers, bodies;
    for (const std::string& line : log.Lines()) {
        std::cout << c.relay << ": " << line << "\n";
        if (line.find(kPackagePath) == std::string::npos)
            continue;
        (line.rfind("request", 0) == 0 ? requests : line.rfind("response", 0) == 0 ? answers : bodies).push_back(line);
    }
    ASSERT_EQ(requests.size(), static_cast<size_t>(c.replaced ? 2 : c.drops + 1));
    ASSERT_EQ(answers.size(), requests.size());
    ASSERT_EQ(bodies.size(), requests.size());
    EXPECT_EQ(Field(requests[0], "range="), "");
    EXPECT_EQ(Field(requests[0], "if_range="), "");
    const std::string etag = Field(answers[0], "etag=");
    size_t served = 0, had = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(requests[i]);
        if (i > 0) {
            const std::string range = Field(requests[i], "range=");
            ASSERT_EQ(range.rfind("bytes=", 0), 0u);
            const size_t from = std::stoul(range.substr(6));
            EXPECT_GT(from, had) << "asked again for bytes it had";
            EXPECT_LE(from, served) << "asked beyond what was sent";
            if (std::string(c.how) == "close") {
                EXPECT_EQ(from, served);
            }
            had = from;
            EXPECT_EQ(range, "bytes=" + std::to_string(from) + "-");
            EXPECT_EQ(Field(requests[i], "if_range="), etag);
            const std::string& answer = answers[i];
            if (c.replaced) {
                EXPECT_NE(answer.find("\tHTTP/1.1 200 "), std::string::npos) << answer;
            } else {
                EXPECT_NE(answer.find("\tHTTP/1.1 206 "), std::string::npos) << answer;
                EXPECT_EQ(Field(answer, "content_range="), "bytes " + std::to_string(from) + "-" +
                                                               std::to_string(package.size() - 1) + "/" +
                                                               std::to_string(package.size()));
            }
        }
        served += std::stoul(Field(bodies[i], "sent="));
    }
    EXPECT_EQ(Field(bodies.back(), "end="), "complete");
    std::cout << c.name << ": " << served << " bytes served for a package of "
              << (c.replaced ? replacement : package).size() << " bytes\n";
}

INSTANTIATE_TEST_SUITE_P(
    Resume, ResumeTest,
    testing::Values(ResumeCase{"nginx_dropped_at_40_percent", "updater_nginx_relay.exe", "relay_nginx", 1, "close"},
                    ResumeCase{"nginx_dropped_three_times", "updater_nginx_relay.exe", "relay_nginx", 3, "reset"},
                    ResumeCase{"nginx_replaced_after_the_drop", "updater_nginx_relay.exe", "relay_nginx", 1, "close",
                               true},
                    ResumeCase{"apache_dropped_at_40_percent", "updater_apache_relay.exe", "relay_apache", 1, "reset"},
                    ResumeCase{"apache_dropped_three_times", "updater_apache_relay.exe", "relay_apache", 3, "close"},
                    ResumeCase{"apache_replaced_after_the_drop", "updater_apache_relay.exe", "relay_apache", 1,
                               "close", true}),
    [](const testing::TestParamInfo<ResumeCase>& info) { return std::string(info.param.name); });

} // namespace
