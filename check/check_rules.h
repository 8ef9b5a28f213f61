// What the checker makes of what it fetched: the rules that turn the facts of
// each server file into warnings, each naming its cause and its fix. Pure
// logic, no platform calls; the texts are ASCII.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transfer_facts.h"

enum class Severity {
    Problem, // players meet something wrong: the check fails
    Notice,  // worth knowing, but players are served
};

struct Warning {
    Severity severity;
    std::string file; // the server file it concerns
    std::string cause;
    std::string fix;
};
using Warnings = std::vector<Warning>;

// News from this size on delays the window noticeably: the news box lays out
// the whole text before the window shows, and 64 KiB of it about double the
// time to the window.
inline constexpr size_t kSlowNewsBytes = 64 * 1024;

struct NewsFacts {
    NewsFetch fetch;
    bool definedInCp932 = true;  // the platform converts every character
    size_t cap = 0;              // the updater's news cap
};

// How much of a complete package the checker reads: enough for the PE headers
// of any program a common linker makes (they lie in its first page).
inline constexpr size_t kPackageHeadBytes = 4096;

struct PackageFacts {
    PackageDownload download;
    std::string head;    // the first kPackageHeadBytes of a complete package, or all of a shorter one
    bool signed_ = false; // the updater checks a signature over it
};

// True when the package arrived whole: with a key, the signature was checked
// over its bytes.
bool ArrivedWhole(const PackageDownload& download);

// Each adds the warnings about one server file.
void CheckVersionFile(const VersionFileFetch& fetch, Warnings& warnings);
// latest against the version of the game the publisher named, if any.
void CheckVersions(int latest, std::optional<int> game, Warnings& warnings);
// latest against the version of the game the new package installs: any
// difference is a problem, so that a release ends with a plain exit status.
void CheckNewGame(int latest, int newGame, Warnings& warnings);
void CheckNews(const NewsFacts& facts, Warnings& warnings);
void CheckPackage(const PackageFacts& facts, Warnings& warnings);
// Whether a package that arrived whole holds all its PE headers place in it:
// a package cut short on upload ends inside them, its sections or its
// Authenticode certificate table, and a table that does not fit is no
// signature.
void CheckPackageLayout(const PackageFacts& facts, Warnings& warnings);
// signed: the download made with the key, which fetches the signature first.
void CheckSignature(const PackageDownload& signed_, Warnings& warnings);
// What the signature says of the package, after that download: whether it
// verifies the package, or why it could not be checked.
std::string SignatureVerdict(const PackageDownload& signed_);

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

// 0 when players are served well (notices at most), 1 when any problem.
int ExitStatus(const Warnings& warnings);

// True when the PE headers in head, the first bytes of a Windows program,
// name a certificate table: the program carries an Authenticode signature
// (whether it verifies is Windows' to judge). False when head holds no
// complete PE header up to that entry.
bool HasCertificateTable(std::string_view head);

// Text analysis of the news bytes.
// The offset of the first byte that does not fit code page 932's structure
// (single bytes, or a lead byte with a trail byte), if any.
std::optional<size_t> FindInvalidCp932(std::string_view bytes);
// True for a byte-order mark, or for valid UTF-8 with characters beyond ASCII.
bool LooksLikeUtf8(std::string_view bytes);

// Bytes shown as ASCII text: printable characters as they are, others as
// \r, \n, \t or \xNN.
std::string EscapeBytes(std::string_view bytes);

// A URL as the report shows it: a user name and password in it show as ***.
std::string RedactUrl(std::string_view url);

// "1,234,567 bytes"
std::string FormatBytes(uint64_t bytes);
// "1,234 of 5,000 bytes (24%)", or "1,234 bytes" when the total is unknown.
std::string FormatProgress(uint64_t received, std::optional<uint64_t> total);
