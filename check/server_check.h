// Fetches every file of the update directory with the updater's own code and
// prints what it found and what a player would see.
#pragma once

#include <optional>
#include <string>

#include "warnings.h"
#include "console_output.h"

struct ServerCheckSettings {
    std::string baseUrl;         // ends in "/"
    std::string packageKey;      // PEM; empty: packages are not signed
    std::wstring keyDescription;  // where the key came from, for the report
    std::optional<int> game;      // the version of the game to compare with
    std::wstring gameDescription; // its path, for the report
    std::optional<int> newGame;   // the version of the game the package installs
    std::wstring newGameDescription;
    bool package = true;
    std::optional<std::wstring> packageCopy; // the publisher's own update.exe
};

// Prints the report and returns the warnings it ends with.
Warnings CheckServer(const ServerCheckSettings& settings, CConsoleOutput& out);

// What the check leaves out, such as "update.exe was not checked
// (--no-package)"; empty when it checks every file players fetch.
std::string UncheckedFiles(const ServerCheckSettings& settings);
