#include "version_rules.h"

#include <string_view>

#include "news_text.h"
#include "transfer_bounds.h"
#include "version.h"

namespace {

constexpr char kPlainVersionFix[] =
    "write exactly version=MAJOR,MINOR; in plain ASCII, digits only, for instance version=1,5; for 1.05";

// A positive version value as players read it: 1005 is 1.05.
std::string Version(int value)
{
    std::string minor = std::to_string(value % 1000);
    if (minor.size() < 2)
        minor.insert(0, 2 - minor.size(), '0');
    return std::to_string(value / 1000) + "." + minor;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsKeyCharacter(char c)
{
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// How a version.dat body holds to the plain form, KEY=MAJOR,MINOR; with a key
// of ASCII letters, digits and '_' and digits only in both numbers, followed
// by white space at most, such as a line end.
struct VersionForm {
    bool bom = false;                // a UTF-8 byte-order mark before the key
    bool semicolon = false;          // the final ';' is there
    std::optional<size_t> departure; // the offset where the body leaves the form
    const char* expected = "";       // what belongs there
    std::string_view major, minor;   // the digits, once read
};

// slips: also take the slips whose meaning is clear, a doubled '=' and a '.'
// or ';' between the numbers.
VersionForm ReadVersionForm(std::string_view body, bool slips)
{
    VersionForm form;
    size_t i = 0;
    auto run = [&](bool (*accepts)(char)) {
        size_t start = i;
        while (i < body.size() && accepts(body[i]))
            ++i;
        return body.substr(start, i - start);
    };
    auto take = [&](std::string_view accepted) {
        bool taken = i < body.size() && accepted.find(body[i]) != std::string_view::npos;
        i += taken;
        return taken;
    };
    auto depart = [&](const char* expected) {
        form.departure = i;
        form.expected = expected;
        return form;
    };
    form.bom = body.substr(0, 3) == kUtf8Bom;
    i = form.bom ? 3 : 0;
    if (run(IsKeyCharacter).empty())
        return depart("a key such as version");
    if (!take("="))
        return depart("'='");
    while (slips && take("="))
        continue;
    form.major = run(IsDigit);
    if (form.major.empty())
        return depart("a digit");
    if (!take(slips ? ",.;" : ","))
        return depart("','");
    form.minor = run(IsDigit);
    if (form.minor.empty())
        return depart("a digit");
    form.semicolon = take(";");
    if (!form.semicolon && i < body.size() && !IsWhiteSpace(body[i]))
        return depart("';'");
    run(IsWhiteSpace);
    if (i < body.size())
        return depart("the end of the file");
    return form;
}

// Where a body departs from the plain form, for a cause.
std::string DepartureText(std::string_view body, const VersionForm& form)
{
    size_t at = *form.departure;
    if (at == body.size())
        return "it ends at offset " + std::to_string(at) + ", where " + form.expected + " belongs";
    return "at offset " + std::to_string(at) + ", '" + EscapeBytes(body.substr(at, 1)) + "' stands where " +
           form.expected + " belongs";
}

// The plain version file a body most likely meant, when a slip makes that
// clear and it gives a version that the minor does not carry over.
std::optional<std::string> LikelyIntent(std::string_view body)
{
    VersionForm form = ReadVersionForm(body, true);
    if (form.departure)
        return std::nullopt;
    std::string intent = "version=" + std::string(form.major) + "," + std::string(form.minor) + ";";
    VersionFields fields = ParseVersionFileFields(intent);
    if (fields.value <= 0 || fields.minor >= 1000)
        return std::nullopt;
    return intent;
}

} // namespace

void CheckVersionFile(const VersionFileFetch& fetch, Warnings& warnings)
{
    if (!CheckTransfer(kVersionFile, fetch.transfer, "players see 0.00 and Update stays disabled", warnings))
        return;
    if (!fetch.body) {
        AddWarning(warnings, Severity::Problem, kVersionFile,
            "the body could not be read (the connection failed or stalled after the headers); players see "
            "0.00 and Update stays disabled",
            "check that the server sends the file's body");
        return;
    }
    const std::string& body = *fetch.body;
    CheckAnswer(kVersionFile, fetch.transfer, false, "", warnings);
    if (!CheckStartupTime(kVersionFile, fetch.transfer,
                          "it reads version.dat for at most " + FormatSeconds(kVersionFileTime) + " from its answer",
                          "players see " + Version(ParseVersionFile(body)), warnings))
        return;
    VersionFields fields = ParseVersionFileFields(body);
    VersionForm form = ReadVersionForm(body, false);
    std::optional<std::string> intent = LikelyIntent(body);
    const std::string intentText =
        intent ? "; most likely meant " + *intent + ", shown as " + Version(ParseVersionFile(*intent)) : "";
    const std::string fix = intent ? "write " + *intent + " in plain ASCII" : kPlainVersionFix;
    if (fields.value <= 0) {
        AddWarning(warnings, Severity::Problem, kVersionFile,
            std::string("it gives ") +
                (fields.value == 0 ? "0.00, no version" : "a value below zero (" + std::to_string(fields.value) + ")") +
                ": players see it and Update stays disabled for everyone" + intentText,
            fix);
    } else if (fields.minor >= 1000 || fields.minor < 0) {
        AddWarning(warnings, Severity::Problem, kVersionFile,
            "its minor version " + std::to_string(fields.minor) +
                " is outside 0-999: the version is major*1000+minor, so players see " +
                Version(fields.value) + ", not " + std::to_string(fields.major) + "." +
                std::to_string(fields.minor),
            "give the minor as 0 to 999 (version=1,5; is 1.05), and raise the major instead");
    } else if (form.departure) {
        AddWarning(warnings, Severity::Problem, kVersionFile,
            "it is not plainly version=MAJOR,MINOR; (" + DepartureText(body, form) + "): players see " +
                Version(fields.value) + intentText,
            fix);
    } else {
        // Forms the updater reads as intended, but not as documented.
        if (form.bom) {
            AddWarning(warnings, Severity::Notice, kVersionFile,
                "it starts with a UTF-8 byte-order mark, which the updater takes as part of the key: players see " +
                    Version(fields.value) + " all the same",
                "save version.dat as plain ASCII; an editor that adds the mark may save text.txt as UTF-8 too");
        }
        if (!form.semicolon) {
            AddWarning(warnings, Severity::Notice, kVersionFile,
                "it does not end in ';' as version=MAJOR,MINOR; does: players see " + Version(fields.value) +
                    " all the same",
                "write version=" + std::string(form.major) + "," + std::string(form.minor) + ";");
        }
    }
    if (fetch.transfer.contentLength && *fetch.transfer.contentLength > body.size()) {
        AddWarning(warnings, Severity::Notice, kVersionFile,
            "the updater reads only the first " + FormatBytes(body.size()) + " of its " +
                FormatBytes(*fetch.transfer.contentLength) + "; the rest never counts",
            "keep version.dat to the one line version=MAJOR,MINOR;");
    }
}

void CheckVersions(int latest, std::optional<int> game, Warnings& warnings)
{
    if (game && *game == 0) {
        AddWarning(warnings, Severity::Problem, "game",
            "the updater reads no version from the game (no FileVersion in the string table 041104b0): "
            "players with this game see 0.00 and are offered every update for ever, also after updating",
            "give the game a version resource with a Japanese Unicode (041104b0) string table whose FileVersion "
            "is the release's, such as \"1, 5, 0, 0\" for 1.05, and ship that game in the package");
    }
    if (!game || latest <= 0 || latest > *game)
        return;
    std::string versions = "the latest version " + Version(latest) + " is " +
                           (latest == *game ? "the same as" : "below") + " the game's " + Version(*game);
    if (latest == *game) {
        AddWarning(warnings, Severity::Notice, kVersionFile,
            versions + ": players with this game are up to date and are offered no update",
            "if you have published a newer version, raise version.dat to it");
    } else {
        AddWarning(warnings, Severity::Problem, kVersionFile,
            versions + ": the server is behind the game, and players with it are offered nothing",
            "announce the newest version in version.dat, and serve its package");
    }
}

void CheckNewGame(int latest, int newGame, Warnings& warnings)
{
    if (newGame == 0) {
        AddWarning(warnings, Severity::Problem, "new game",
            "the updater reads no version from the new game (no FileVersion in the string table 041104b0): "
            "players who install the update see 0.00 and are offered it for ever",
            "give the game you pack into update.exe a version resource with a Japanese Unicode (041104b0) string "
            "table whose FileVersion is the release's, such as \"1, 5, 0, 0\" for 1.05");
        return;
    }
    // A latest version of 0 has its own warning from the version file.
    if (latest <= 0 || latest == newGame)
        return;
    const std::string announce = "version=" + std::to_string(newGame / 1000) + "," + std::to_string(newGame % 1000) +
                                 "; (shown as " + Version(newGame) + ")";
    const std::string versions = "the latest version " + Version(latest) + " is " +
                                 (latest < newGame ? "below" : "above") + " the new game's " + Version(newGame) +
                                 " (the game update.exe installs)";
    if (latest < newGame) {
        AddWarning(warnings, Severity::Problem, kVersionFile, versions + ": players are never offered the update",
            "announce the new game's version: write " + announce + " into version.dat, last");
    } else {
        AddWarning(warnings, Severity::Problem, kVersionFile,
            versions + ": players who update still have " + Version(newGame) +
                ", below the latest, and are offered the update for ever",
            "announce the new game's version: write " + announce +
                " into version.dat; or pack a game whose FileVersion is " + Version(latest));
    }
}
