// What the checker makes of what it fetched: the rules that turn the facts of
// each server file into warnings, each naming its cause and its fix. Pure
// logic, no platform calls; the texts are ASCII.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How one transfer ended, as the updater's transfers report it.
enum class FetchError {
    None,
    BadUrl,
    Unreachable,
    Certificate,
    InsecureRedirect,
    TooManyRedirects,
    HttpStatus,
    NoTimeLeft, // not sent: the start-up's time was used up before it was due
    UnreadableHeader, // a header of the answer could not be read whole
    TimeUp,  // a start-up fetch's time was up before its answer began (redirects count)
    TooSlow, // a download's answer did not begin within the progress floor's window
};

// A bound of the updater's that ended the reading of a body.
enum class BodyBound {
    None,
    TimeUp,  // a start-up fetch's time was up
    TooSlow, // a download made less than the progress floor
};

struct FetchFacts {
    std::string requestedUrl;
    std::string finalUrl; // after redirects
    unsigned status = 0;  // 0 when there was no HTTP answer
    FetchError error = FetchError::None;
    unsigned long systemError = 0;
    std::optional<uint64_t> contentLength;
    std::vector<std::string> contentLengthHeaders; // every Content-Length value, as sent
    bool contentLengthMalformed = false;           // not one length in plain digits
    std::string contentEncoding;                   // empty when none was sent
    BodyBound bound = BodyBound::None;
    uint64_t bodyBytes = 0;   // of the body, received
    double bodySeconds = 0;   // spent reading it
};

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

// News from this size on delays the window noticeably: the updater reads it,
// 1 KiB at a time, before the window shows. A first figure, to be replaced by
// a measured one.
inline constexpr size_t kSlowNewsBytes = 64 * 1024;

struct VersionFacts {
    FetchFacts fetch;
    bool read = false; // the first read of the body succeeded
    std::string body;  // that read: all the updater looks at
};

struct NewsFacts {
    FetchFacts fetch;
    std::string news;            // as FetchNews returned it
    bool definedInCp932 = true;  // the platform converts every character
    size_t cap = 0;              // the updater's news cap
};

enum class PackageOutcome {
    Complete,       // the whole body arrived
    TransferFailed, // see fetch
    NotPlainAnswer, // not status 200 with one plain length and no encoding: see fetch
    NotLengthFramed, // unsigned: not one plain Content-Length, or chunked: refused
    NotWritten,     // the checker could not write its temporary copy
    Incomplete,     // a read failed or timed out before the body ended
    TooSlow,        // it stopped making progress: see fetch
    Empty,
    SizeMismatch,   // the body's size differs from Content-Length
};

// How much of a complete package the checker reads: enough for the PE headers
// of any program a common linker makes (they lie in its first page).
inline constexpr size_t kPackageHeadBytes = 4096;

struct PackageFacts {
    FetchFacts fetch;
    PackageOutcome outcome = PackageOutcome::TransferFailed;
    uint64_t received = 0;
    std::string head;    // the first kPackageHeadBytes of a complete package, or all of a shorter one
    bool signed_ = false; // the updater checks a signature over it
};

enum class SignatureState {
    NotChecked, // no key: players' updaters do not check either
    Verified,
    Missing,    // see fetch
    NotPlainAnswer, // not status 200 with one plain length and no encoding: see fetch
    TooLarge,
    TooSlow,    // it stopped making progress: see fetch
    Invalid,    // does not verify with the key
};

struct SignatureFacts {
    SignatureState state = SignatureState::NotChecked;
    FetchFacts fetch;
};

// Each adds the warnings about one server file.
void CheckVersionFile(const VersionFacts& facts, Warnings& warnings);
// latest against the version of the game the publisher named, if any.
void CheckVersions(int latest, std::optional<int> game, Warnings& warnings);
// latest against the version of the game the new package installs: any
// difference is a problem, so that a release ends with a plain exit status.
void CheckNewGame(int latest, int newGame, Warnings& warnings);
void CheckNews(const NewsFacts& facts, Warnings& warnings);
void CheckPackage(const PackageFacts& facts, Warnings& warnings);
// Whether a complete package holds all its PE headers place in it: a package
// cut short on upload ends inside them, its sections or its Authenticode
// certificate table, and a table that does not fit is no signature.
void CheckPackageLayout(const PackageFacts& facts, Warnings& warnings);
void CheckSignature(const SignatureFacts& facts, Warnings& warnings);

// A file's size and SHA-256, in lower-case hexadecimal as sha256sum gives it.
struct FileSummary {
    uint64_t size = 0;
    std::string sha256;
};
// The package served, whole as the updater received it, against the
// publisher's own copy (--package): a package cut short on upload keeps a
// length of its own, and no client can see the cut.
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
