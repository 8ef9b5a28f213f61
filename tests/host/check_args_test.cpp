// The checker's command line.
#include "check_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CheckArgs, TakesTheOptionsAroundTheUrlAndRejectsBadCommandLines)
{
    EXPECT_EQ(ParseCheckArguments({L"--package", L"dist\\\u00e9\\update.exe"}).options->packageCopy,
              L"dist\\\u00e9\\update.exe");
    // Paths are taken as they are, whatever their characters.
    ParsedArguments parsed =
        ParseCheckArguments({L"--no-package", L"http://h/game/veltrassa_01/update/", L"--key", L"k.pem", L"--game",
                             L"C:\\\u00e9\u30b2\u30fc\u30e0\\harun_tesli.exe", L"--new-game", L"new\\harun_tesli.exe"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->url, "http://h/game/veltrassa_01/update/");
    EXPECT_EQ(parsed.options->keyFile, L"k.pem");
    EXPECT_EQ(parsed.options->game, L"C:\\\u00e9\u30b2\u30fc\u30e0\\harun_tesli.exe");
    EXPECT_EQ(parsed.options->newGame, L"new\\harun_tesli.exe");
    EXPECT_FALSE(parsed.options->package);
    EXPECT_FALSE(ParseCheckArguments({}).options->url);
    EXPECT_TRUE(ParseCheckArguments({L"--help"}).options->help);
    const struct {
        std::vector<std::wstring> args;
        std::string error;
    } bad[] = {
        {{L"--game"}, "--game needs a file name"},
        {{L"--key", L""}, "--key needs a file name"},
        {{L"--game", L"a", L"--game", L"b"}, "--game is given twice"},
        {{L"--new-game", L"a", L"--new-game", L"b"}, "--new-game is given twice"},
        {{L"--new-game"}, "--new-game needs a file name"},
        {{L"--package"}, "--package needs a file name"},
        {{L"--package", L"a", L"--package", L"b"}, "--package is given twice"},
        {{L"--package", L"a", L"--no-package"}, "--package and --no-package exclude each other"},
        {{L"http://me:secret@a/u/", L"http://b/u/"}, "more than one URL: http://***@a/u/ and"},
        {{L"ftp://a/u/"}, "must start with http:// or https://"},
        {{L"http://a/game/veltrassa_01/update"}, "ending in /"},
        {{L"http://\u00e9/u/"}, "must be ASCII, other characters percent-encoded: http://\\u00E9/u/"},
        {{L"--g\u00e4me"}, "unknown option --g\\u00E4me"},
        // Not the help's /?: another character stands there.
        {{L"/\u00bf"}, "must be ASCII, other characters percent-encoded: /\\u00BF"},
    };
    for (const auto& c : bad) {
        parsed = ParseCheckArguments(c.args);
        EXPECT_FALSE(parsed.options) << c.error;
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    }
}

} // namespace
