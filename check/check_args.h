// The checker's command line. Pure logic.
#pragma once

#include <optional>
#include <string>
#include <vector>

inline constexpr char kCheckUsage[] =
    "usage: updater_check [--game PATH] [--new-game PATH] [--key PUBLIC.pem] [--package PATH | --no-package] "
    "[URL]";

struct CheckOptions {
    std::optional<std::string> url;     // the update directory; none: the built-in one
    std::optional<std::string> game;    // a game executable to compare with
    std::optional<std::string> newGame; // the game the package installs
    std::optional<std::string> keyFile; // a PEM public key; none: the built-in key
    std::optional<std::string> packageCopy; // the publisher's own update.exe, to compare the served one with
    bool package = true;                // download and examine update.exe
    bool help = false;                  // only the usage was asked for
};

struct ParsedArguments {
    std::optional<CheckOptions> options; // nothing on a usage error
    std::string error;                   // what is wrong with the command line
};

// args without the program name.
ParsedArguments ParseCheckArguments(const std::vector<std::string>& args);
