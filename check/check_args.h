// The checker's command line, as the wide strings Windows hands over, so that
// the files it names may have any name Windows allows. Pure logic.
#pragma once

#include <optional>
#include <string>
#include <vector>

inline constexpr char kCheckUsage[] =
    "usage: updater_check [--game PATH] [--new-game PATH] [--key PUBLIC.pem] [--package PATH | --no-package] "
    "[URL]";

struct CheckOptions {
    std::optional<std::string> url;      // the update directory; none: the built-in one
    std::optional<std::wstring> game;    // a game executable to compare with
    std::optional<std::wstring> newGame; // the game the package installs
    std::optional<std::wstring> keyFile; // a PEM public key; none: the built-in key
    std::optional<std::wstring> packageCopy; // the publisher's own update.exe, to compare the served one with
    bool package = true;                // download and examine update.exe
    bool help = false;                  // only the usage was asked for
};

struct ParsedArguments {
    std::optional<CheckOptions> options; // nothing on a usage error
    std::string error;                   // what is wrong with the command line, in ASCII
};

// A word of the command line as ASCII, for the options and the messages: any
// other character as \uXXXX.
std::string Ascii(const std::wstring& word);

// args without the program name.
ParsedArguments ParseCheckArguments(const std::vector<std::wstring>& args);
