// The checker's rules for the package, update.exe: how it was served, its
// PE layout and Authenticode signature, and the publisher's own copy of it.
// Pure logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "warnings.h"

// How much of a complete package the checker reads: enough for the PE headers
// of any program a common linker makes (they lie in its first page).
inline constexpr size_t kPackageHeadBytes = 4096;

struct PackageFacts {
    PackageDownload download;
    std::string head;    // the first kPackageHeadBytes of a complete package, or all of a shorter one
    bool signed_ = false; // the updater checks a signature over it
};

// Comparing sizes and digests is what shows a cut upload; signing the served
// file again would only hide it.
inline constexpr char kCompareUploadFix[] =
    "compare update.exe as served with the signed file you uploaded: the update.exe block above shows the size "
    "and SHA-256 served, ls -l update.exe and sha256sum update.exe (certutil -hashfile update.exe SHA256 on "
    "Windows) show yours";

// True when the package arrived whole: with a key, the signature was checked
// over its bytes.
bool ArrivedWhole(const PackageDownload& download);

void CheckPackage(const PackageFacts& facts, Warnings& warnings);
// Whether a package that arrived whole holds all its PE headers place in it:
// a package cut short on upload ends inside them, its sections or its
// Authenticode certificate table, and a table that does not fit is no
// signature.
void CheckPackageLayout(const PackageFacts& facts, Warnings& warnings);

// A file's size and SHA-256, in lower-case hexadecimal as sha256sum gives it.
struct FileSummary {
    uint64_t size = 0;
    std::string sha256;
};
// The package served, whole as the updater received it, against the
// publisher's own copy (--package): a package cut short on upload keeps a
// length of its own, and no client can see the cut. copyPath: its path as
// ASCII, other characters escaped (Ascii), as the warnings' texts are.
void CheckPackageCopy(const FileSummary& served, const std::string& copyPath, const FileSummary& copy,
                      Warnings& warnings);
