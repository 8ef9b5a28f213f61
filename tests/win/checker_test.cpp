// The server checker, run as a program against scripted servers on
// 127.0.0.1: one row per way a server can fail players, clean servers, and
// the command lines it refuses.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "checker_run.h"
#include "script_server.h"
#include "test_files.h"

namespace {

const std::string kVersionPath = std::string(kUpdatePath) + "version.dat";
const std::string kNewsPath = std::string(kUpdatePath) + "text.txt";
const std::string kPackagePath = std::string(kUpdatePath) + "update.exe";
// The port the TLS front of the test fixtures forwards to from ports
// 28480-28483, each with its own certificate.
constexpr uint16_t kTlsBackendPort = 28471;

std::string GameOption(const char* fixture)
{
    return "--game \"" + ProgramFolder() + fixture + "\" ";
}

std::string KeyOption(const char* key)
{
    return "--key \"" UPDATER_TEST_CRYPTO_DIR + std::string(key) + "\" ";
}

std::string PackageProgram()
{
    return ReadWholeFile(ProgramFolder() + "test_package.exe").value_or("");
}

std::string CryptoFile(const char* name)
{
    return ReadWholeFile(UPDATER_TEST_CRYPTO_DIR + std::string(name)).value_or("");
}

// The SHA-256 of the test package as sha256sum writes it.
std::wstring PackageDigest()
{
    std::string digest = CryptoFile("test_package.sha256");
    return std::wstring(digest.begin(), digest.begin() + std::min<size_t>(digest.size(), 64));
}

using Serve = std::function<void(ScriptServer&)>;

Serve File(const std::string& path, std::string body, int status = 200)
{
    return [=](ScriptServer& s) { s.OnFile(path, body, status); };
}

Serve Signature(const char* name)
{
    return File(kPackagePath + ".sig", CryptoFile(name));
}

// The package in an answer of this status and these headers: HTTP/1.1 with
// the package's Content-Length too, or HTTP/1.0 without it, the body ending
// where the connection closes.
Serve PackageAnswer(int status, std::string headers, bool length = true)
{
    return [=](ScriptServer& s) {
        if (!length) {
            s.On(kPackagePath, [=](ScriptConnection& c, const HttpRequest&) {
                c.Send("HTTP/1.0 " + std::to_string(status) + " OK\r\n" + headers + "\r\n" + PackageProgram());
            });
            return;
        }
        ScriptConnection::Response response;
        response.status = status;
        response.body = PackageProgram();
        response.extraHeaders = headers;
        s.OnResponse(kPackagePath, response);
    };
}

Serve Redirect(const std::string& path, const std::string& location)
{
    ScriptConnection::Response moved;
    moved.status = 302;
    moved.extraHeaders = "Location: " + location + "\r\n";
    return [=](ScriptServer& s) { s.OnResponse(path, moved); };
}

// Clean: exit 0 without any warning. Notice: exit 0. Problem: exit 1.
// Usage: exit 2 with the usage on standard error, before any request.
enum Verdict { kClean, kNotice, kProblem, kUsage };

struct Row {
    const char* name;
    Verdict verdict;
    std::string arguments;              // before the URL
    Serve serve;                        // on top of the files of a good server
    std::vector<std::wstring> expected; // each in the output, or for kUsage in the errors
    uint16_t httpsPort = 0;             // of the TLS front, instead of the scripted server's own URL
    std::vector<std::wstring> absent = {}; // none of them in the output
};

class CheckerTest : public testing::Test {
protected:
    void Expect(const Row& row, ScriptServer& server, const std::string& arguments,
                const std::string& checker = ProgramFolder() + "updater_check.exe")
    {
        ASSERT_TRUE(server.Listening());
        server.OnFile(kVersionPath, "version=1,5;");
        server.OnFile(kNewsPath, "\x82\xa8\x92\x6d\x82\xe7\x82\xb9\r\n\x90\x56\x83\x58\x83\x65\x81\x5b\x83\x57");
        // As a static file server serves it: a player whose connection drops can go on.
        PackageAnswer(200, "ETag: \"5e1b-6568\"\r\nAccept-Ranges: bytes\r\n")(server);
        if (row.serve)
            row.serve(server);
        // Nothing may be left in the working folder, nor in the temporary one.
        const std::string cwd = PathOf(folder) + "\\cwd", temp = PathOf(folder) + "\\tmp";
        ASSERT_TRUE(CreateDirectoryA(cwd.c_str(), nullptr) && CreateDirectoryA(temp.c_str(), nullptr));
        std::optional<CheckerRun> run = RunChecker(arguments, cwd, temp, PathOf(folder), checker);
        ASSERT_TRUE(run) << "the checker did not start or did not end";
        output = run->output;
        const DWORD exitCode = row.verdict == kUsage ? 2 : row.verdict == kProblem ? 1 : 0;
        EXPECT_EQ(run->exitCode, exitCode) << run->errors << run->output;
        // A check that leaves out a file or a comparison with the publisher's
        // own files never claims that players are served.
        const bool partial = arguments.find("--game ") == std::string::npos ||
                             arguments.find("--new-game ") == std::string::npos ||
                             arguments.find("--package ") == std::string::npos;
        if (partial) {
            EXPECT_EQ(run->output.find(L"served as intended"), std::wstring::npos) << run->output;
        }
        std::vector<std::wstring> expected = row.expected;
        expected.push_back(row.verdict == kUsage ? L"usage: updater_check [--game PATH] [--new-game PATH] "
                                                   L"[--key PUBLIC.pem] [--package PATH | --no-package] [URL]\n"
                           : exitCode            ? L"\nFAILED: "
                           : partial             ? L"\nOK so far: nothing wrong in what was checked, but "
                                                 : L"\nOK: players are served as intended\n");
        const std::wstring& text = row.verdict == kUsage ? run->errors : run->output;
        for (const std::wstring& part : expected)
            EXPECT_NE(text.find(part), std::wstring::npos) << "missing: " << part << "\nin:\n" << text;
        for (const std::wstring& part : row.absent)
            EXPECT_EQ(run->output.find(part), std::wstring::npos) << "found: " << part << "\nin:\n" << run->output;
        // One download of the package at most: a second one is not what players meet.
        std::vector<HttpRequest> requests = server.Requests();
        EXPECT_LE(std::count_if(requests.begin(), requests.end(),
                                [](const HttpRequest& r) { return r.path == kPackagePath; }),
                  1)
            << "update.exe was downloaded twice";
        if (row.verdict == kClean) {
            EXPECT_EQ(run->output.find(L"NOTICE"), std::wstring::npos) << run->output;
        }
        if (row.verdict == kUsage) {
            EXPECT_TRUE(run->output.empty());
            EXPECT_TRUE(server.Requests().empty());
        } else {
            EXPECT_TRUE(run->errors.empty()) << run->errors;
        }
        EXPECT_EQ(FolderEntries(cwd), std::vector<std::string>{}) << "wrote into its working folder";
        EXPECT_EQ(FolderEntries(temp), std::vector<std::string>{}) << "left its temporary folder";
    }

    CTemporaryWorkingFolder folder{kTestFolderPrefix};
    std::wstring output; // of the last run
};

class CheckerRowTest : public CheckerTest, public testing::WithParamInterface<Row> {
protected:
    void ExpectRow(const std::string& checker)
    {
        const Row& row = GetParam();
        ScriptServer server(row.httpsPort ? kTlsBackendPort : 0);
        Expect(row, server,
               row.httpsPort ? "https://localhost:" + std::to_string(row.httpsPort) + kUpdatePath
                             : row.arguments + server.BaseUrl(),
               checker);
    }
};

TEST_P(CheckerRowTest, JudgesTheServerAsTheUpdaterDoes)
{
    ExpectRow(ProgramFolder() + "updater_check.exe");
}

// The checker exactly as it ships, built by the release configuration.
class ReleaseCheckerRowTest : public CheckerRowTest {};

TEST_P(ReleaseCheckerRowTest, JudgesTheServerAsTheTestBuildDoes)
{
    ASSERT_NE(GetFileAttributesA((ReleaseFolder() + "updater_check.exe").c_str()), INVALID_FILE_ATTRIBUTES)
        << "no release build in " << ReleaseFolder() << ": build the win32-release preset first";
    ExpectRow(ReleaseFolder() + "updater_check.exe");
}

// The same, signed with Authenticode as the publisher ships it.
class SignedReleaseCheckerRowTest : public CheckerRowTest {};

TEST_P(SignedReleaseCheckerRowTest, JudgesTheServerAsTheTestBuildDoes)
{
    ExpectRow(SignedReleaseFolder() + "updater_check.exe");
}

std::string RowName(const testing::TestParamInfo<Row>& info)
{
    return info.param.name;
}

const std::vector<Row> kServerRows = {
        Row{"clean", kClean, "", nullptr,
            {L"none given: a game without a version, 0.00, is assumed", L"最新バージョン  1.05\n",
             L"現在のバージョン  0.00\n", L"Update  enabled", L"starts  MZ", L"    | お知らせ\n    | 新ステージ\n",
             L"\n  SHA-256 " + PackageDigest() + L"\n",
             L"\nOK so far: nothing wrong in what was checked, but not compared: version.dat with the game players "
             L"have (--game), version.dat with the game update.exe installs (--new-game), update.exe as served with "
             L"your copy (--package)\n"}},
        // Every file's block has its time, the signature's too.
        Row{"clean_and_signed", kClean, KeyOption("rsa2048.pub.pem") + GameOption("game_1_4_0_0.exe"),
            Signature("test_package.rsa2048.sig"),
            {L" s\n  verdict verifies update.exe\n", L"現在のバージョン  1.04\n", L"Update  enabled", L"starts  MZ"}},
        // The last step of a release: the server announces what the package installs.
        Row{"release_done", kClean, GameOption("game_1_4_0_0.exe") + "--new-game \"" + ProgramFolder() +
                                        "game_1_5_0_0.exe\" --package \"" + ProgramFolder() + "test_package.exe\" ",
            nullptr,
            {L"New game          Z:\\", L"\nWhat a player sees after the update, with the new game\n"
             L"  現在のバージョン  1.05\n  Update  disabled\n"}},
        Row{"server_ahead_of_the_new_game", kProblem, "--new-game \"" + ProgramFolder() + "game_1_5_0_0.exe\" ",
            File(kVersionPath, "version=1,50;"),
            {L"PROBLEM version.dat: the latest version 1.50 is above the new game's 1.05 (the game update.exe "
             L"installs): players who update still have 1.05, below the latest, and are offered the update for ever",
             L"fix: announce the new game's version: write version=1,5; (shown as 1.05) into version.dat",
             L"  現在のバージョン  1.05\n  Update  enabled\n",
             L"\nFAILED: 1 problem(s) that players would meet; not compared: version.dat with the game players have "
             L"(--game), update.exe as served with your copy (--package)\n"}},
        Row{"server_behind_the_new_game", kProblem, "--new-game \"" + ProgramFolder() + "game_1_5_0_0.exe\" ",
            File(kVersionPath, "version=1,4;"),
            {L"PROBLEM version.dat: the latest version 1.04 is below the new game's 1.05 (the game update.exe "
             L"installs): players are never offered the update"}},
        Row{"new_game_without_a_version", kProblem, "--new-game \"" + ProgramFolder() + "game_no_version.exe\" ",
            nullptr, {L"PROBLEM new game: the updater reads no version from the new game"}},
        Row{"up_to_date", kNotice, GameOption("game_1_5_0_0.exe"), nullptr,
            {L"現在のバージョン  1.05\n", L"Update  disabled", L"NOTICE  version.dat"}},
        Row{"version_file_missing", kProblem, "", File(kVersionPath, "gone", 404),
            {L"PROBLEM version.dat: the server answered HTTP 404", L"最新バージョン  0.00",
             L"fix: upload version.dat to the update directory, last: after update.exe"}},
        Row{"version_file_gives_0", kProblem, "", File(kVersionPath, "<html>oops</html>"),
            {L"PROBLEM version.dat: it gives 0.00", L"Update  disabled"}},
        Row{"version_with_a_dot", kProblem, "", File(kVersionPath, "version=1.5;"),
            {L"PROBLEM version.dat: it is not plainly version=MAJOR,MINOR; (at offset 9, '.' stands where ',' "
             L"belongs): players see 1.00; most likely meant version=1,5;, shown as 1.05",
             L"fix: write version=1,5; in plain ASCII", L"最新バージョン  1.00"}},
        Row{"version_with_a_doubled_equals_sign", kProblem, "", File(kVersionPath, "version==1,5;"),
            {L"(at offset 8, '=' stands where a digit belongs): players see 0.05; most likely meant version=1,5;",
             L"最新バージョン  0.05"}},
        Row{"minor_of_1000_or_more", kProblem, "", File(kVersionPath, "version=1,1005;"),
            {L"minor version 1005 is outside 0-999", L"players see 2.05", L"最新バージョン  2.05"}},
        Row{"game_without_a_version", kProblem, GameOption("game_no_version.exe"), nullptr,
            {L"PROBLEM game: the updater reads no version from the game", L"現在のバージョン  0.00\n",
             L"Update  enabled"}},
        Row{"server_behind_the_game", kProblem, GameOption("game_1_5_0_0.exe"), File(kVersionPath, "version=1,4;"),
            {L"PROBLEM version.dat: the latest version 1.04 is below"}},
        Row{"redirect_to_an_error_page", kProblem, "",
            [](ScriptServer& s) {
                Redirect(kVersionPath, "/error.html")(s);
                s.OnFile("/error.html", "<html>Access denied</html>");
            },
            {L"/error.html (redirected from ", L"it gives 0.00"}},
        Row{"redirect_loop", kProblem, "", Redirect(kNewsPath, kNewsPath),
            {L"PROBLEM text.txt: more than 10 redirects"}},
        Row{"news_in_UTF_8", kProblem, "", File(kNewsPath, "\xe3\x81\x8a\xe7\x9f\xa5"),
            {L"PROBLEM text.txt: it looks like UTF-8", L"| iconv -f UTF-8 -t CP932 |"}},
        Row{"news_with_LF_line_ends", kProblem, "", File(kNewsPath, "\x82\xa8\x92\x6d\x82\xe7\x82\xb9\n\x90\x56"),
            {L"PROBLEM text.txt: a line end is not CR LF: a bare LF at offset 8",
             L"fix: end every line in CR LF, with no other CR: LC_ALL=C sed 's/\\r*$/\\r/'"}},
        Row{"news_not_code_page_932", kProblem, "", File(kNewsPath, "news \x82"),
            {L"byte 0x82 at offset 5 is not valid code page 932"}},
        Row{"news_over_the_cap", kProblem, "", File(kNewsPath, std::string(1024 * 1024 + 10, 'a')),
            {L"larger than the updater's news cap of 1,048,576 bytes"}},
        Row{"slow_news", kNotice, "", File(kNewsPath, std::string(70000, 'a')),
            {L"NOTICE  text.txt: it is 70,000 bytes: reading it delays"}},
        Row{"news_forbidden", kProblem, "", File(kNewsPath, "no", 403),
            {L"PROBLEM text.txt: the server answered HTTP 403", L"| ニュースはありません"}},
        Row{"package_not_an_executable", kProblem, "", File(kPackagePath, "<html>Not here</html>"),
            {L"PROBLEM update.exe: it is not a Windows executable"}},
        // The game fixture: a program as a linker makes it, never signed.
        Row{"package_without_Authenticode", kNotice, "",
            File(kPackagePath, ReadWholeFile(ProgramFolder() + "game_1_5_0_0.exe").value_or("")),
            {L"NOTICE  update.exe: it carries no Authenticode signature",
             L"fix: sign update.exe with your code-signing certificate before you upload it: osslsigncode sign"}},
        // Players whose connection drops go on only with a strong validator and byte ranges.
        Row{"package_without_a_validator", kNotice, "", File(kPackagePath, PackageProgram()),
            {L"NOTICE  update.exe: the answer gives no strong validator", L"starts again from the first byte"}},
        Row{"package_with_a_weak_ETag_only", kNotice, "",
            PackageAnswer(200, "ETag: W/\"5e1b\"\r\nAccept-Ranges: bytes\r\n"),
            {L"NOTICE  update.exe: the answer gives no strong validator"}},
        Row{"package_without_byte_ranges", kNotice, "", PackageAnswer(200, "ETag: \"5e1b\"\r\nAccept-Ranges: none\r\n"),
            {L"NOTICE  update.exe: the answer does not say Accept-Ranges: bytes"}},
        Row{"package_shorter_than_announced", kProblem, "",
            [](ScriptServer& s) {
                ScriptConnection::Response response;
                response.body = PackageBytes(5000, 1);
                response.contentLength = "9000";
                s.OnResponse(kPackagePath, response);
            },
            {L"5,000 bytes arrived, but Content-Length announced 9,000 bytes"}},
        Row{"package_empty", kProblem, "", File(kPackagePath, ""), {L"PROBLEM update.exe: it is empty"}},
        Row{"package_forbidden", kProblem, "", File(kPackagePath, "no", 403),
            {L"PROBLEM update.exe: the server answered HTTP 403"}},
        Row{"package_partial_content", kProblem, "", PackageAnswer(206, "Content-Range: bytes 0-99/200\r\n"),
            {L"PROBLEM update.exe: the server answered HTTP 206 for http://127.0.0.1:"}},
        Row{"package_with_two_lengths", kProblem, "", PackageAnswer(200, "Content-Length: 100\r\n"),
            {L"update.exe: the answer announces its length as Content-Length: ", L", and Content-Length: 100, not one"}},
        Row{"package_content_encoding", kProblem, "", PackageAnswer(200, "Content-Encoding: gzip\r\n"),
            {L"PROBLEM update.exe: the answer has Content-Encoding: gzip, which the updater never asks for"}},
        Row{"package_without_length", kProblem, "", PackageAnswer(200, "Server: old\r\n", false),
            {L"PROBLEM update.exe: it is served without Content-Length, or chunked, so a download cut short would "
             L"look whole: the updater refuses it"}},
        Row{"signed_package_without_length", kNotice, KeyOption("rsa2048.pub.pem"),
            [](ScriptServer& s) {
                PackageAnswer(200, "Server: old\r\n", false)(s);
                Signature("test_package.rsa2048.sig")(s);
            },
            {L"NOTICE  update.exe: it is served without Content-Length", L"verifies update.exe"}},
        Row{"redirect_to_an_overlong_url", kProblem, "", Redirect(kVersionPath, "/" + std::string(300, 'x')),
            {L"PROBLEM version.dat: the server redirected to http://127.0.0.1:",
             L"/" + std::wstring(300, L'x') + L", which is not an http or https URL of at most 255 characters"}},
        // A byte a second after the headers: each file is read only as long as the updater does.
        Row{"dripping_bodies", kProblem, "",
            [](ScriptServer& s) {
                s.OnResponse(kVersionPath, ScriptConnection::Pieces("version=1,5;" + std::string(300, ' '), 1, 1000));
                s.OnResponse(kNewsPath, ScriptConnection::Pieces(std::string(3000, 'n'), 1, 1000));
                s.OnResponse(kPackagePath, ScriptConnection::Pieces(PackageProgram(), 1, 1000));
            },
            {L"PROBLEM version.dat: the body came too slowly: the updater stopped reading it after ",
             L"(it reads version.dat for at most 3 s from its answer, so that its window shows); players see 0.00",
             L"PROBLEM text.txt: the body came too slowly", L"players see only that part of the news",
             L"PROBLEM update.exe: it came too slowly: fewer than 32,768 bytes arrived in 30 s"}},
        // Heads a byte a second: the same bounds, reported as heads that never came whole.
        Row{"dripping_heads", kProblem, "",
            [](ScriptServer& s) {
                for (const std::string& path : {kVersionPath, kPackagePath}) {
                    s.On(path, [](ScriptConnection& c, const HttpRequest&) {
                        for (char byte : std::string("HTTP/1.1 200 OK\r\nX-Padding: ") + std::string(100, 'p')) {
                            if (!c.Send(std::string(1, byte)))
                                return;
                            c.Pause(1000);
                        }
                    });
                }
            },
            {L"PROBLEM version.dat: no whole answer head came before the updater's start-up time (10 s in all)",
             L"PROBLEM update.exe: no whole answer head came within 30 s"}},
        // Announced and kept, a cut is invisible to any client: only the
        // publisher's own copy shows it.
        Row{"package_cut_on_upload", kProblem, "--package \"" + ProgramFolder() + "test_package.exe\" ",
            File(kPackagePath, PackageProgram().substr(0, PackageProgram().size() * 9 / 10)),
            {L"  yours   ", L"PROBLEM update.exe: the file served (",
             L"shorter, most likely cut short on upload; no updater can tell"}},
        Row{"package_as_published", kNotice, "--package \"" + ProgramFolder() + "test_package.exe\" ",
            File(kPackagePath, PackageProgram()), {L"  yours   "}},
        Row{"package_not_downloaded", kClean, KeyOption("rsa2048.pub.pem") + "--no-package ",
            File(kPackagePath, "", 404),
            {L"not downloaded (--no-package)",
             L"update.exe and update.exe.sig were not checked (--no-package); not compared: version.dat with the "
             L"game players have (--game), version.dat with the game update.exe installs (--new-game)\n"}},
        Row{"signature_missing", kProblem, KeyOption("rsa2048.pub.pem"), nullptr,
            {L"PROBLEM update.exe.sig: the server answered HTTP 404", L"starts  MZ"}},
        Row{"signature_of_another_key", kProblem, KeyOption("rsa2048.pub.pem"), Signature("test_package.other.sig"),
            {L"  verdict does not verify update.exe\n", L"PROBLEM update.exe.sig: it does not verify update.exe",
             L"fix: first compare update.exe as served with the signed file you uploaded: the update.exe block "
             L"above shows the size and SHA-256 served",
             L"\n  SHA-256 " + PackageDigest() + L"\n", L"starts  MZ"},
            0, {L"PROBLEM update.exe:"}},
        // A good signature and a package that does not arrive whole: the
        // signature is not said to verify what never arrived.
        Row{"signed_package_not_found", kProblem, KeyOption("rsa2048.pub.pem"),
            [](ScriptServer& s) {
                Signature("test_package.rsa2048.sig")(s);
                File(kPackagePath, "gone", 404)(s);
            },
            {L"  verdict not checked: the server answered HTTP 404 for update.exe\n",
             L"PROBLEM update.exe: the server answered HTTP 404"},
            0, {L"verifies", L"PROBLEM update.exe.sig"}},
        Row{"signed_package_cut_short", kProblem, KeyOption("rsa2048.pub.pem"),
            [](ScriptServer& s) {
                Signature("test_package.rsa2048.sig")(s);
                ScriptConnection::Response response;
                response.body = PackageProgram().substr(0, 5000);
                response.contentLength = std::to_string(PackageProgram().size());
                s.OnResponse(kPackagePath, response);
            },
            {L"  verdict not checked: update.exe was cut short\n", L"5,000 bytes arrived, but Content-Length announced"},
            0, {L"verifies", L"PROBLEM update.exe.sig"}},
        Row{"signed_package_too_slow", kProblem, KeyOption("rsa2048.pub.pem"),
            [](ScriptServer& s) {
                Signature("test_package.rsa2048.sig")(s);
                s.OnResponse(kPackagePath, ScriptConnection::Pieces(PackageProgram(), 1, 1000));
            },
            {L"  verdict not checked: update.exe came too slowly\n",
             L"PROBLEM update.exe: it came too slowly: fewer than 32,768 bytes arrived in 30 s"},
            0, {L"verifies", L"PROBLEM update.exe.sig"}},
        // Cut short on upload, and signed again as the server holds it: the
        // signature verifies, the package's own headers show the cut.
        Row{"package_cut_and_signed_again", kProblem, KeyOption("rsa2048.pub.pem"),
            [](ScriptServer& s) {
                s.OnFile(kPackagePath, CryptoFile("test_package_cut.exe"));
                Signature("test_package_cut.rsa2048.sig")(s);
            },
            {L"verifies update.exe", L"PROBLEM update.exe: its PE headers place section data up to byte ",
             L"it ends inside its sections, cut short (on upload?), and the program cannot start",
             L"fix: upload update.exe again, whole, and compare",
             L"NOTICE  update.exe: its header names an Authenticode certificate table beyond the end of the file"}},
        // One parsing error stands for all, which the host tests parse; the
        // others are refusals only the program makes.
        Row{"unknown_option", kUsage, "--fast ", nullptr, {L"unknown option --fast"}},
        Row{"game_missing", kUsage, "--game no_such_game.exe ", nullptr, {L"no such game file"}},
        Row{"new_game_missing", kUsage, "--new-game no_such_game.exe ", nullptr,
            {L"no such game file no_such_game.exe"}},
        Row{"key_not_PEM", kUsage, "--key \"" + ProgramFolder() + "test_package.exe\" ", nullptr,
            {L"is not a PEM public key"}},
        Row{"key_of_a_refused_kind", kUsage, KeyOption("ec384.pub.pem"), nullptr, {L"is not a PEM public key"}},
        Row{"key_missing", kUsage, "--key no_such_key.pem ", nullptr, {L"cannot read the key file"}}};

INSTANTIATE_TEST_SUITE_P(Servers, CheckerRowTest, testing::ValuesIn(kServerRows), RowName);

std::vector<Row> RowsNamed(std::initializer_list<std::string> names)
{
    std::vector<Row> rows;
    for (const Row& row : kServerRows) {
        if (std::find(names.begin(), names.end(), row.name) != names.end())
            rows.push_back(row);
    }
    return rows;
}

// The shipped checker on the rows that read a key and check a signature: the
// platform's cryptography as the release program calls it.
const std::vector<Row> kReleaseRows = RowsNamed(
    {"clean_and_signed", "signature_of_another_key", "signature_missing", "signed_package_not_found", "key_missing"});
INSTANTIATE_TEST_SUITE_P(Release, ReleaseCheckerRowTest, testing::ValuesIn(kReleaseRows), RowName);
// Discovered apart: the signed copy is made by a fixture of its own.
INSTANTIATE_TEST_SUITE_P(SignedRelease, SignedReleaseCheckerRowTest, testing::ValuesIn(kReleaseRows), RowName);

// Only the checker's naming of certificate faults: tls_test.cpp tests the
// faults themselves with the transfers.
INSTANTIATE_TEST_SUITE_P(
    CheckerSecureTest, CheckerRowTest,
    testing::Values(Row{"self_signed", kProblem, "", nullptr,
                        {L"PROBLEM version.dat: Windows rejects the server's certificate: the certificate is not "
                         L"issued by a CA Windows trusts"},
                        28481},
                    Row{"redirect_to_http", kProblem, "",
                        [](ScriptServer& s) {
                            Redirect(kPackagePath, "http://127.0.0.1:" + std::to_string(kTlsBackendPort) +
                                                       "/plain/update.exe")(s);
                            s.OnFile("/plain/update.exe", PackageProgram());
                        },
                        {L"PROBLEM update.exe: the https request was redirected to plain http"}, 28480}),
    RowName);

TEST_F(CheckerTest, NeverPrintsTheUserOrPasswordOfAUrl)
{
    ScriptServer server;
    std::string url = server.BaseUrl();
    url.insert(std::string("http://").size(), "publisher:s3cret@");
    Expect(Row{"", kClean, "", nullptr, {L"Update directory  http://***@127.0.0.1:", L"URL     http://***@127.0.0.1:"}},
           server, url);
    EXPECT_EQ(output.find(L"s3cret"), std::wstring::npos) << output;
    EXPECT_EQ(output.find(L"publisher"), std::wstring::npos) << output;
}

// The game and the key are read from paths as Windows holds them: here a
// folder whose name no one ANSI code page holds.
TEST_F(CheckerTest, TakesPathsOfAnyCharacters)
{
    const std::string dir = PathOf(folder) + u8"\\\u00e9\u30b2\u30fc\u30e0";
    ASSERT_TRUE(CreateDirectoryW(FromUtf8(dir).c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(FromUtf8(ProgramFolder() + "game_1_4_0_0.exe").c_str(),
                          FromUtf8(dir + "\\harun_tesli.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(FromUtf8(UPDATER_TEST_CRYPTO_DIR "rsa2048.pub.pem").c_str(),
                          FromUtf8(dir + "\\key.pem").c_str(), FALSE));
    ScriptServer server;
    Expect(Row{"", kClean, "", Signature("test_package.rsa2048.sig"),
               {L"Game              " + FromUtf8(dir) + L"\\harun_tesli.exe\n",
                L"Package key       " + FromUtf8(dir) + L"\\key.pem\n", L"現在のバージョン  1.04\n",
                L"verdict verifies update.exe"}},
           server, "--game \"" + dir + "\\harun_tesli.exe\" --key \"" + dir + "\\key.pem\" " + server.BaseUrl());
}

TEST_F(CheckerTest, UnreachableServerFailsEveryFile)
{
    ScriptServer server;
    Expect(Row{"", kProblem, "", nullptr,
               {L"PROBLEM version.dat: no answer", L"PROBLEM text.txt: no answer", L"PROBLEM update.exe: no answer",
                L", error 12029)"}},
           server, "http://127.0.0.1:" + std::to_string(ScriptServer::ClosedPort()) + kUpdatePath);
}

} // namespace
