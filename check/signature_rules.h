// The checker's rules for the package's detached signature, update.exe.sig.
// Pure logic.
#pragma once

#include <string>

#include "warnings.h"

// signed: the download made with the key, which fetches the signature first.
void CheckSignature(const PackageDownload& signed_, Warnings& warnings);
// What the signature says of the package, after that download: whether it
// verifies the package, or why it could not be checked.
std::string SignatureVerdict(const PackageDownload& signed_);
