// The checker's rules for version.dat and the versions it is set against:
// the game's and the new game's. Pure logic.
#pragma once

#include <optional>

#include "warnings.h"

void CheckVersionFile(const VersionFileFetch& fetch, Warnings& warnings);
// latest against the version of the game the publisher named, if any.
void CheckVersions(int latest, std::optional<int> game, Warnings& warnings);
// latest against the version of the game the new package installs: any
// difference is a problem, so that a release ends with a plain exit status.
void CheckNewGame(int latest, int newGame, Warnings& warnings);
