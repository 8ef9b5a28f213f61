// The rules for version.dat and the versions it is set against.
#include "check_facts.h"

namespace {

TEST(CheckVersionRules, GiveExactlyTheExpectedWarning)
{
    constexpr Severity kProblem = Severity::Problem, kNotice = Severity::Notice;
    ExpectOneWarning({
        {Version("version=-1,5;"), kProblem, "below zero (-995)"},
        {Version("version=2,-5;"), kProblem, "players see 1.995"},
        {Version("version=1,5;", Fetch(300)), kNotice, "only the first 12 bytes of its 300 bytes"},
        {Version("", Fetch(), false), kProblem, "could not be read"},
        // The plain form, as far as it bends: a line end after it.
        {Version("version=1,5;\r\n"), kNotice, nullptr},
        {Version("\xEF\xBB\xBFversion=1,5;\n"), kNotice, "byte-order mark"},
        {Version("version=1,10\n"), kNotice, "does not end in ';'"},
        {Version("version=1;5;"), kProblem, "players see 1.05; most likely meant version=1,5;"},
        {Version("version=1, 5;"), kProblem, "offset 10, ' ' stands where a digit"},
        {Version("version=1,5;\r\nversion=1,6;"), kProblem, "offset 14, 'v' stands where the end of the file"},
        {Version("version=1,"), kProblem, "it ends at offset 10, where a digit belongs"},
        // One warning for 0.00, with the intent where it is clear.
        {Version("version=0.5;"), kProblem, "0.00, no version"},
        // A latest version of 0 has its own warning from the version file.
        {{"", [](Warnings& w) { CheckVersions(0, 1005, w); }}, kNotice, nullptr},
        {{"game", [](Warnings& w) { CheckVersions(1005, 0, w); }}, kProblem, "offered every update for ever"},
        // The game the package installs against the latest version: any difference fails the release.
        {{"version.dat", [](Warnings& w) { CheckNewGame(1050, 1005, w); }}, kProblem,
         "the latest version 1.50 is above the new game's 1.05 (the game update.exe installs): players who update "
         "still have 1.05, below the latest, and are offered the update for ever"},
        {{"version.dat", [](Warnings& w) { CheckNewGame(1004, 1005, w); }}, kProblem,
         "the latest version 1.04 is below the new game's 1.05 (the game update.exe installs): players are never "
         "offered the update"},
        {{"", [](Warnings& w) { CheckNewGame(1005, 1005, w); }}, kNotice, nullptr},
        {{"", [](Warnings& w) { CheckNewGame(0, 1005, w); }}, kNotice, nullptr},
        {{"new game", [](Warnings& w) { CheckNewGame(1005, 0, w); }}, kProblem,
         "no version from the new game (no FileVersion in the string table 041104b0): players who install the "
         "update see 0.00 and are offered it for ever"},
    });
}

TEST(CheckVersionRules, FixesSayWhatToRun)
{
    ExpectFirstFix({
        {{"version.dat", [](Warnings& w) { CheckNewGame(1050, 1005, w); }},
         "write version=1,5; (shown as 1.05) into version.dat; or pack a game whose FileVersion is 1.50"},
        {{"version.dat", [](Warnings& w) { CheckNewGame(1004, 2010, w); }},
         "write version=2,10; (shown as 2.10) into version.dat, last"},
    });
}

} // namespace
