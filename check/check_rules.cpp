#include "check_rules.h"

#include <algorithm>
#include <cstdio>

#include "http_answer.h"
#include "pe_layout.h"
#include "transfer_bounds.h"
#include "version.h"

namespace {

constexpr const char* kPackageFile = kUpdatePackage;
const std::string kSignatureName = std::string(kUpdatePackage) + kSignatureSuffix;
const char* const kSignatureFile = kSignatureName.c_str();
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
// Comparing sizes and digests is what shows a cut upload; signing the served
// file again would only hide it.
constexpr char kCompareUploadFix[] =
    "compare update.exe as served with the signed file you uploaded: the update.exe block above shows the size "
    "and SHA-256 served, ls -l update.exe and sha256sum update.exe (certutil -hashfile update.exe SHA256 on "
    "Windows) show yours";
constexpr char kSlowHeadFix[] = "serve the file at once from the update directory, without redirects, and check for a "
                                "proxy that holds back the head";
constexpr char kPlainVersionFix[] =
    "write exactly version=MAJOR,MINOR; in plain ASCII, digits only, for instance version=1,5; for 1.05";

void Add(Warnings& warnings, Severity severity, const char* file, std::string cause, std::string fix)
{
    warnings.push_back(Warning{severity, file, std::move(cause), std::move(fix)});
}

std::string Hex(unsigned value)
{
    const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    text += digits[(value >> 4) & 0xF];
    text += digits[value & 0xF];
    return text;
}

// What the certificate errors a publisher can act on mean.
std::string CertificateErrorName(uint32_t error)
{
    switch (static_cast<ClientError>(error)) {
    case ClientError::InvalidCa:
        return "the certificate is not issued by a CA Windows trusts";
    case ClientError::SecCertDateInvalid:
        return "the certificate has expired or is not yet valid";
    case ClientError::SecCertCnInvalid:
        return "the certificate is issued for another host name";
    case ClientError::SecCertRevoked:
        return "the certificate has been revoked";
    default:
        return "WinINet error " + std::to_string(error);
    }
}

// A positive version value as players read it: 1005 is 1.05.
std::string Version(int value)
{
    std::string minor = std::to_string(value % 1000);
    if (minor.size() < 2)
        minor.insert(0, 2 - minor.size(), '0');
    return std::to_string(value / 1000) + "." + minor;
}

// "3 s", "0.25 s"
std::string Seconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f s", seconds == static_cast<int>(seconds) ? 0 : 2, seconds);
    return text;
}

std::string Seconds(std::chrono::milliseconds time)
{
    return Seconds(std::chrono::duration<double>(time).count());
}

// The warning for a transfer that failed; true when it succeeded. consequence
// says what players meet then.
bool CheckTransfer(const char* file, const TransferInfo& fetch, const char* consequence, Warnings& warnings)
{
    const std::string what = std::string(file) + " ";
    const std::string requestedUrl = RedactUrl(fetch.requestedUrl), finalUrl = RedactUrl(fetch.url);
    switch (fetch.error) {
    case TransferError::None:
        return true;
    case TransferError::BadUrl:
        if (finalUrl != requestedUrl) {
            Add(warnings, Severity::Problem, file,
                "the server redirected to " + finalUrl +
                    ", which is not an http or https URL of at most 255 characters; " + consequence,
                "redirect to a shorter http or https URL, or serve the file without a redirect");
            break;
        }
        Add(warnings, Severity::Problem, file,
            "the URL " + requestedUrl + " is not an http or https URL of at most 255 characters; " +
                consequence,
            "use a shorter update directory URL of the form http://HOST[:PORT]/game/veltrassa_01/update/");
        break;
    case TransferError::Unreachable:
        Add(warnings, Severity::Problem, file,
            "no answer from the server for " + requestedUrl + " (no connection, or nothing within 5 s" +
                (fetch.systemError ? ", error " + std::to_string(fetch.systemError) : std::string()) + "); " +
                consequence,
            "check the host name and port, that the server runs and that players' networks can reach it");
        break;
    case TransferError::Certificate:
        Add(warnings, Severity::Problem, file,
            "Windows rejects the server's certificate: " + CertificateErrorName(fetch.systemError) + "; " +
                consequence,
            "serve a valid certificate for this host name, issued by a CA Windows trusts, with the whole chain");
        break;
    case TransferError::InsecureRedirect:
        Add(warnings, Severity::Problem, file,
            "the https request was redirected to plain http (" + finalUrl +
                "), which the updater refuses; " + consequence,
            "make the server or CDN redirect to https addresses only, or not redirect at all");
        break;
    case TransferError::TooManyRedirects:
        Add(warnings, Severity::Problem, file,
            "more than 10 redirects, the last to " + finalUrl + " (a redirect loop?), which the updater gives up; " +
                consequence,
            "make the redirect point at the file itself, in one step");
        break;
    case TransferError::HttpStatus:
        Add(warnings, Severity::Problem, file,
            "the server answered HTTP " + std::to_string(fetch.status) + " for " + finalUrl + "; " +
                consequence,
            fetch.status != 404 && fetch.status != 410
                ? "make " + what + "readable to everyone: check the server's or CDN's access rules"
            : std::string_view(file) == kVersionFile
                ? "upload version.dat to the update directory, last: after update.exe, update.exe.sig and text.txt"
                : "upload " + what + "to the update directory (before version.dat announces a new version)");
        break;
    case TransferError::NoTimeLeft:
        Add(warnings, Severity::Problem, file,
            "not fetched: the updater's start-up fetches (" + Seconds(kStartupFetchTime) +
                " in all) had used up their time before it was due; " + consequence,
            "make the server answer version.dat at once; see its own warning");
        break;
    case TransferError::UnreadableHeader:
        Add(warnings, Severity::Problem, file,
            "a header of the answer for " + finalUrl +
                " (its length or encodings) could not be read whole, so the updater refuses the answer; " +
                consequence,
            "send plain headers: one short Content-Length, and no Content-Encoding or Transfer-Encoding lists "
            "that a proxy or CDN rule keeps adding to");
        break;
    case TransferError::TimeUp:
        Add(warnings, Severity::Problem, file,
            "no whole answer head came before the updater's start-up time (" + Seconds(kStartupFetchTime) +
                " in all) was up: a head sent slowly, redirects and waits all count against it; the last request "
                "went to " + finalUrl + "; " + consequence,
            kSlowHeadFix);
        break;
    case TransferError::TooSlow:
        Add(warnings, Severity::Problem, file,
            "no whole answer head came within " + Seconds(kProgressWindow) +
                ": a head sent slowly, redirects and waits all count against the updater's download floor; the "
                "last request went to " + finalUrl + "; " + consequence,
            kSlowHeadFix);
        break;
    }
    return false;
}

// A start-up fetch whose body the updater stopped reading when its time was
// up; true when it read the whole body.
bool CheckStartupTime(const char* file, const TransferInfo& fetch, const std::string& bound, const std::string& seen,
                      Warnings& warnings)
{
    if (fetch.bodyEnd != BodyEnd::TimeUp)
        return true;
    Add(warnings, Severity::Problem, file,
        "the body came too slowly: the updater stopped reading it after " + FormatBytes(fetch.bodyBytes) + " in " +
            Seconds(fetch.bodyTime) + " (" + bound + ", so that its window shows); " + seen,
        std::string("serve ") + file + " at once: check the server's load, and any proxy or CDN in between");
    return false;
}

// A download that fell under the progress floor.
void CheckProgress(const char* file, const TransferInfo& fetch, Warnings& warnings)
{
    Add(warnings, Severity::Problem, file,
        "it came too slowly: fewer than " + FormatBytes(kMinProgressBytes) + " arrived in " +
            Seconds(kProgressWindow) + " (" + FormatBytes(fetch.bodyBytes) + " in " + Seconds(fetch.bodyTime) +
            "), and the updater gave up: Update fails for every player",
        std::string("serve ") + file + " at full speed: check the server's bandwidth and load, and any proxy or CDN in "
        "between");
}

// Names the faults of an answer that the updater does not take as a file
// downloaded whole (package and signature); true when it has none. The
// encoding also matters to the other files: the updater shows their bytes as
// they come.
bool CheckAnswer(const char* file, const TransferInfo& fetch, bool downloadedWhole, const char* consequence,
                 Warnings& warnings)
{
    const std::string url = RedactUrl(fetch.url);
    bool plain = true;
    if (downloadedWhole && fetch.status != 200) {
        Add(warnings, Severity::Problem, file,
            "the server answered HTTP " + std::to_string(fetch.status) + " for " + url +
                ", not 200 with the whole file: the updater refuses it; " + consequence,
            std::string("serve ") + file + " whole with status 200; check that no cache or CDN stores partial answers");
        plain = false;
    }
    if (downloadedWhole && fetch.contentLengthMalformed) {
        std::string values;
        for (const std::string& value : fetch.contentLengthHeaders)
            values += (values.empty() ? "Content-Length: " : ", and Content-Length: ") + EscapeBytes(value);
        Add(warnings, Severity::Problem, file,
            "the answer announces its length as " + values +
                ", not one length in plain digits: the updater cannot check the size and refuses it; " + consequence,
            "send one Content-Length header with the file's size in plain digits; check proxies and CDN rules "
            "that add another");
        plain = false;
    }
    if (!IsIdentityEncoding(fetch.contentEncoding)) {
        Add(warnings, Severity::Problem, file,
            "the answer has Content-Encoding: " + EscapeBytes(fetch.contentEncoding) +
                ", which the updater never asks for: its bytes are not the file as stored" +
                (downloadedWhole ? std::string(", and the updater refuses it; ") + consequence
                                 : std::string(", and players see them as they are")),
            std::string("serve ") + file + " as stored, without compression (turn it off for this directory)");
        plain = false;
    }
    return plain;
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

bool IsCp932Lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsCp932Trail(unsigned char c)
{
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

bool IsCp932Single(unsigned char c)
{
    return c <= 0x7F || (c >= 0xA1 && c <= 0xDF);
}

// The length of the UTF-8 sequence at i, or 0 when none starts there.
size_t Utf8SequenceLength(std::string_view bytes, size_t i)
{
    auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char c = at(i);
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0; // no overlong forms
        if (c == 0xED)
            high = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;
        if (c == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > bytes.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (size_t k = 2; k < length; ++k) {
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    }
    return length;
}

struct BareLineEnds {
    size_t count = 0;
    size_t first = 0; // offset
};

// The LFs without a CR before them and the CRs without an LF after them;
// code page 932 has no trail byte below 0x40, so every such byte is one.
// Windows' multi-line edit control breaks lines only at CR LF and runs the
// lines together at either. Wine's (8.0) breaks at a bare LF as well, though
// not at a bare CR, so news with LF line ends looks right under Wine only.
std::optional<BareLineEnds> FindBareLineEnds(std::string_view text)
{
    BareLineEnds bare;
    for (size_t i = 0; i < text.size(); ++i) {
        bool lf = text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
        bool cr = text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n');
        if ((lf || cr) && bare.count++ == 0)
            bare.first = i;
    }
    if (bare.count == 0)
        return std::nullopt;
    return bare;
}

uint32_t LittleEndian(std::string_view bytes, size_t at, size_t size)
{
    uint32_t value = 0;
    for (size_t i = size; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::string WithSeparators(uint64_t value)
{
    std::string digits = std::to_string(value);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

} // namespace

void CheckVersionFile(const VersionFileFetch& fetch, Warnings& warnings)
{
    if (!CheckTransfer(kVersionFile, fetch.transfer, "players see 0.00 and Update stays disabled", warnings))
        return;
    if (!fetch.body) {
        Add(warnings, Severity::Problem, kVersionFile,
            "the body could not be read (the connection failed or stalled after the headers); players see "
            "0.00 and Update stays disabled",
            "check that the server sends the file's body");
        return;
    }
    const std::string& body = *fetch.body;
    CheckAnswer(kVersionFile, fetch.transfer, false, "", warnings);
    if (!CheckStartupTime(kVersionFile, fetch.transfer, "it reads version.dat for at most " + Seconds(kVersionFileTime),
                          "players see " + Version(ParseVersionFile(body)), warnings))
        return;
    VersionFields fields = ParseVersionFileFields(body);
    VersionForm form = ReadVersionForm(body, false);
    std::optional<std::string> intent = LikelyIntent(body);
    const std::string intentText =
        intent ? "; most likely meant " + *intent + ", shown as " + Version(ParseVersionFile(*intent)) : "";
    const std::string fix = intent ? "write " + *intent + " in plain ASCII" : kPlainVersionFix;
    if (fields.value <= 0) {
        Add(warnings, Severity::Problem, kVersionFile,
            std::string("it gives ") +
                (fields.value == 0 ? "0.00, no version" : "a value below zero (" + std::to_string(fields.value) + ")") +
                ": players see it and Update stays disabled for everyone" + intentText,
            fix);
    } else if (fields.minor >= 1000 || fields.minor < 0) {
        Add(warnings, Severity::Problem, kVersionFile,
            "its minor version " + std::to_string(fields.minor) +
                " is outside 0-999: the version is major*1000+minor, so players see " +
                Version(fields.value) + ", not " + std::to_string(fields.major) + "." +
                std::to_string(fields.minor),
            "give the minor as 0 to 999 (version=1,5; is 1.05), and raise the major instead");
    } else if (form.departure) {
        Add(warnings, Severity::Problem, kVersionFile,
            "it is not plainly version=MAJOR,MINOR; (" + DepartureText(body, form) + "): players see " +
                Version(fields.value) + intentText,
            fix);
    } else {
        // Forms the updater reads as intended, but not as documented.
        if (form.bom) {
            Add(warnings, Severity::Notice, kVersionFile,
                "it starts with a UTF-8 byte-order mark, which the updater takes as part of the key: players see " +
                    Version(fields.value) + " all the same",
                "save version.dat as plain ASCII; an editor that adds the mark may save text.txt as UTF-8 too");
        }
        if (!form.semicolon) {
            Add(warnings, Severity::Notice, kVersionFile,
                "it does not end in ';' as version=MAJOR,MINOR; does: players see " + Version(fields.value) +
                    " all the same",
                "write version=" + std::string(form.major) + "," + std::string(form.minor) + ";");
        }
    }
    if (fetch.transfer.contentLength && *fetch.transfer.contentLength > body.size()) {
        Add(warnings, Severity::Notice, kVersionFile,
            "the updater reads only the first " + FormatBytes(body.size()) + " of its " +
                FormatBytes(*fetch.transfer.contentLength) + "; the rest never counts",
            "keep version.dat to the one line version=MAJOR,MINOR;");
    }
}

void CheckVersions(int latest, std::optional<int> game, Warnings& warnings)
{
    if (game && *game == 0) {
        Add(warnings, Severity::Problem, "game",
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
        Add(warnings, Severity::Notice, kVersionFile,
            versions + ": players with this game are up to date and are offered no update",
            "if you have published a newer version, raise version.dat to it");
    } else {
        Add(warnings, Severity::Problem, kVersionFile,
            versions + ": the server is behind the game, and players with it are offered nothing",
            "announce the newest version in version.dat, and serve its package");
    }
}

void CheckNewGame(int latest, int newGame, Warnings& warnings)
{
    if (newGame == 0) {
        Add(warnings, Severity::Problem, "new game",
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
        Add(warnings, Severity::Problem, kVersionFile, versions + ": players are never offered the update",
            "announce the new game's version: write " + announce + " into version.dat, last");
    } else {
        Add(warnings, Severity::Problem, kVersionFile,
            versions + ": players who update still have " + Version(newGame) +
                ", below the latest, and are offered the update for ever",
            "announce the new game's version: write " + announce +
                " into version.dat; or pack a game whose FileVersion is " + Version(latest));
    }
}

void CheckNews(const NewsFacts& facts, Warnings& warnings)
{
    const TransferInfo& fetch = facts.fetch.transfer;
    if (!CheckTransfer(kNewsFile, fetch, "players see the no-news text instead", warnings))
        return;
    CheckAnswer(kNewsFile, fetch, false, "", warnings);
    if (!CheckStartupTime(kNewsFile, fetch,
                          "the start-up fetches have " + Seconds(kStartupFetchTime) + " in all",
                          "players see only that part of the news", warnings))
        return;
    const std::string news = facts.fetch.news.value_or(std::string());
    const char* encodingFix = "save text.txt in Shift_JIS (code page 932), without a byte-order mark";
    std::optional<size_t> invalid = FindInvalidCp932(news);
    if (LooksLikeUtf8(news)) {
        Add(warnings, Severity::Problem, kNewsFile, "it looks like UTF-8: players see garbage in the news box",
            "convert it to Shift_JIS (code page 932) without a byte-order mark, lines ending in CR LF: "
            "sed '1s/^\\xEF\\xBB\\xBF//' news-utf8.txt | iconv -f UTF-8 -t CP932 | "
            "LC_ALL=C sed 's/\\r*$/\\r/' > text.txt");
    } else if (invalid) {
        Add(warnings, Severity::Problem, kNewsFile,
            "byte " + Hex(static_cast<unsigned char>(news[*invalid])) + " at offset " + std::to_string(*invalid) +
                " is not valid code page 932: players see garbage there",
            encodingFix);
    } else if (!facts.definedInCp932) {
        Add(warnings, Severity::Problem, kNewsFile,
            "it holds characters that code page 932 does not define: players see garbage there", encodingFix);
    }
    size_t nul = news.find('\0');
    if (nul != std::string::npos) {
        Add(warnings, Severity::Problem, kNewsFile,
            "it holds a NUL byte at offset " + std::to_string(nul) +
                ": the news box shows only the text before it (a UTF-16 file?)",
            encodingFix);
    }
    // Only the text before a NUL is shown; a last CR may have been parted
    // from its LF by the cap.
    std::string_view shown = std::string_view(news).substr(0, nul);
    if (news.size() >= facts.cap && shown.size() == news.size() && !shown.empty() && shown.back() == '\r')
        shown.remove_suffix(1);
    if (std::optional<BareLineEnds> bare = FindBareLineEnds(shown)) {
        Add(warnings, Severity::Problem, kNewsFile,
            (bare->count == 1 ? std::string("a line end is not CR LF: a bare ")
                              : std::to_string(bare->count) + " line ends are not CR LF, the first a bare ") +
                (shown[bare->first] == '\n' ? "LF" : "CR") + " at offset " + std::to_string(bare->first) +
                ": the news box on Windows breaks lines only at CR LF, so players see those lines run together",
            "end every line in CR LF, with no other CR: LC_ALL=C sed 's/\\r*$/\\r/' news-cp932.txt > text.txt");
    }
    const std::optional<uint64_t>& announced = fetch.contentLength;
    if ((announced && *announced > facts.cap) || (!announced && news.size() >= facts.cap)) {
        Add(warnings, Severity::Problem, kNewsFile,
            "it is larger than the updater's news cap of " + FormatBytes(facts.cap) +
                (announced ? " (" + FormatBytes(*announced) + ")" : std::string()) +
                ": players see only the part up to the cap",
            "keep the news well under the cap; link to longer texts");
    } else if (announced && news.size() < *announced) {
        Add(warnings, Severity::Problem, kNewsFile,
            "the body ended after " + FormatBytes(news.size()) + " of the " + FormatBytes(*announced) +
                " announced: players see part of the news",
            "check that the server sends the whole file");
    } else if (!announced && !fetch.contentLengthMalformed) {
        Add(warnings, Severity::Notice, kNewsFile,
            "it is served without Content-Length (chunked, or ended by closing the connection): a body cut short "
            "looks whole to the updater and to this check, and players would see part of the news",
            "serve text.txt as a static file, which gives it a Content-Length");
    }
    if (news.size() >= kSlowNewsBytes) {
        Add(warnings, Severity::Notice, kNewsFile,
            "it is " + FormatBytes(news.size()) + ": reading it delays the updater's window noticeably",
            "keep the news under " + FormatBytes(kSlowNewsBytes));
    } else if (news.empty()) {
        Add(warnings, Severity::Notice, kNewsFile, "it is empty: players see an empty news box",
            "write the news into text.txt");
    }
}

bool ArrivedWhole(const PackageDownload& download)
{
    // A failed signature check comes only after the whole body, but for a
    // key or digest that could not be used, which comes before any of it.
    switch (download.outcome) {
    case DownloadOutcome::Installed:
    case DownloadOutcome::CannotReplace:
        return true;
    case DownloadOutcome::SignatureInvalid:
        return download.received > 0;
    default:
        return false;
    }
}

void CheckPackage(const PackageFacts& facts, Warnings& warnings)
{
    const TransferInfo& fetch = facts.download.transfer;
    if (!CheckTransfer(kPackageFile, fetch, "Update fails for every player", warnings) ||
        !CheckAnswer(kPackageFile, fetch, true, "Update fails for every player", warnings))
        return;
    switch (facts.download.outcome) {
    case DownloadOutcome::SignatureInvalid:
        // A package that arrived whole is examined whatever its signature
        // says: CheckSignature speaks of that.
        if (!ArrivedWhole(facts.download))
            break;
        [[fallthrough]];
    case DownloadOutcome::Installed:
    case DownloadOutcome::CannotReplace:
        if (facts.head.substr(0, 2) != "MZ") {
            Add(warnings, Severity::Problem, kPackageFile,
                "it is not a Windows executable (it does not start with MZ): players download it and it "
                "fails to start",
                "upload the self-extracting package itself, not an error page, an archive or a link");
        } else if (!HasCertificateTable(facts.head)) {
            Add(warnings, Severity::Notice, kPackageFile,
                "it carries no Authenticode signature: Windows SmartScreen and antivirus products warn about, or "
                "block, a downloaded program that no publisher signed",
                std::string("sign update.exe with your code-signing certificate before you upload it: osslsigncode "
                            "sign -pkcs12 publisher.p12 -readpass publisher.pass -h sha256 -ts <your CA's "
                            "time-stamping URL> -in update.exe -out update-signed.exe, and upload update-signed.exe "
                            "as update.exe") +
                    (facts.signed_ ? "; make update.exe.sig over the signed file" : ""));
        }
        // Without a length, a body that ends early looks whole: HTTP/1.0 ends
        // it by closing, and the client does not report a missing last chunk.
        // Only a signed build takes such a package.
        if (!fetch.contentLength) {
            Add(warnings, Severity::Notice, kPackageFile,
                "it is served without Content-Length, so a download cut short looks whole: the signature "
                "check refuses it, but only once it has all arrived",
                "serve update.exe with Content-Length: a static file, without chunked encoding");
        }
        break;
    case DownloadOutcome::TransferFailed:
    case DownloadOutcome::NotPlainAnswer: // named above
        break;
    case DownloadOutcome::NotLengthFramed:
        // Only the checker's second, unsigned download of a signed build's
        // package meets this: that build takes such a package.
        if (facts.signed_) {
            Add(warnings, Severity::Notice, kPackageFile,
                "it is served without Content-Length, or chunked, so a download cut short looks whole: the "
                "signature check refuses it, but only once it has all arrived; the checker did not examine it",
                "serve update.exe with one Content-Length: a static file, without chunked encoding");
            break;
        }
        Add(warnings, Severity::Problem, kPackageFile,
            "it is served without Content-Length, or chunked, so a download cut short would look whole: the "
            "updater refuses it, and Update fails for every player",
            "serve update.exe with one Content-Length: a static file, without chunked encoding; or build the "
            "updater with a package key, whose signature check proves the bytes however they are sent");
        break;
    case DownloadOutcome::TooSlow:
        CheckProgress(kPackageFile, fetch, warnings);
        break;
    case DownloadOutcome::CannotWrite:
        Add(warnings, Severity::Problem, kPackageFile,
            "the checker could not write its temporary copy, so the package was not examined",
            "free space in the temporary folder (TEMP), or skip the package with --no-package");
        break;
    case DownloadOutcome::Incomplete:
        Add(warnings, Severity::Problem, kPackageFile,
            "the body stopped after " + FormatBytes(facts.download.received) +
                " (a read failed or nothing came for 5 s): Update fails",
            "check that the server sends the whole file without stalling");
        break;
    case DownloadOutcome::Empty:
        Add(warnings, Severity::Problem, kPackageFile, "it is empty: Update fails for every player",
            "upload the package again, whole");
        break;
    case DownloadOutcome::SizeMismatch:
        Add(warnings, Severity::Problem, kPackageFile,
            FormatBytes(facts.download.received) + " arrived, but Content-Length announced " +
                (fetch.contentLength ? FormatBytes(*fetch.contentLength) : std::string("another size")) +
                ": Update fails for every player",
            "upload the package again, whole, and make sure no cache serves an old size");
        break;
    case DownloadOutcome::SignatureMissing:
    case DownloadOutcome::SignatureNotPlainAnswer:
    case DownloadOutcome::SignatureTooLarge: // the signature's, before the package was requested
        break;
    }
}

void CheckPackageCopy(const FileSummary& served, const std::string& copyPath, const FileSummary& copy,
                      Warnings& warnings)
{
    if (served.size == copy.size && served.sha256 == copy.sha256)
        return;
    Add(warnings, Severity::Problem, kPackageFile,
        "the file served (" + FormatBytes(served.size) + ", SHA-256 " + served.sha256 + ") is not your copy " +
            copyPath + " (" + FormatBytes(copy.size) + ", SHA-256 " + copy.sha256 + ")" +
            (served.size < copy.size ? ": shorter, most likely cut short on upload" : "") +
            "; no updater can tell, and players get the server's file",
        "upload " + copyPath + " again as update.exe, whole, and check again");
}

void CheckPackageLayout(const PackageFacts& facts, Warnings& warnings)
{
    if (!ArrivedWhole(facts.download))
        return;
    std::optional<PeLayout> layout = ReadPeLayout(facts.head);
    if (!layout)
        return;
    const std::string served = ", but the file served has " + FormatBytes(facts.download.received) + ": ";
    const std::string fix = std::string("upload update.exe again, whole, and ") + kCompareUploadFix +
                            "; they must be the same. Do not sign what the server has: a cut file signed again "
                            "passes the signature check and still fails players";
    if (!layout->headersWhole) {
        // head is the whole file when it is shorter than the head's size.
        if (facts.download.received <= facts.head.size()) {
            Add(warnings, Severity::Problem, kPackageFile,
                "it ends inside its PE headers, which take " + FormatBytes(layout->headersEnd) + served +
                    "it was cut short, and the program cannot start",
                fix);
        }
        return;
    }
    const bool tableNamed = layout->NamesCertificateTable();
    const bool tableFits = layout->CertificateEnd() <= facts.download.received;
    if (layout->sectionsEnd > facts.download.received) {
        Add(warnings, Severity::Problem, kPackageFile,
            "its PE headers place section data up to byte " + WithSeparators(layout->sectionsEnd) + served +
                "it ends inside its sections, cut short (on upload?), and the program cannot start",
            fix);
    } else if (tableNamed && !tableFits) {
        Add(warnings, Severity::Problem, kPackageFile,
            "its Authenticode certificate table runs to byte " + WithSeparators(layout->CertificateEnd()) + served +
                "it was cut short (on upload?), and whatever the package holds after its sections, such as "
                "its archive, is incomplete",
            fix);
    }
    if (tableNamed && !tableFits) {
        Add(warnings, Severity::Notice, kPackageFile,
            "its header names an Authenticode certificate table beyond the end of the file, so it carries no "
            "Authenticode signature: Windows SmartScreen and antivirus products warn about, or block, a "
            "downloaded program that no publisher signed",
            "upload the whole signed file; its certificate table is its last part");
    }
}

void CheckSignature(const PackageDownload& signed_, Warnings& warnings)
{
    const TransferInfo& fetch = signed_.signature;
    switch (signed_.outcome) {
    case DownloadOutcome::SignatureMissing:
        if (CheckTransfer(kSignatureFile, fetch, "Update fails for every player", warnings)) {
            Add(warnings, Severity::Problem, kSignatureFile,
                "its body could not be read whole: Update fails for every player",
                "check that the server sends the whole file");
        }
        break;
    case DownloadOutcome::TooSlow:
        // Its answer did not begin in time, or its body came too slowly.
        if (fetch.bodyEnd == BodyEnd::TooSlow)
            CheckProgress(kSignatureFile, fetch, warnings);
        else
            CheckTransfer(kSignatureFile, fetch, "Update fails for every player", warnings);
        break;
    case DownloadOutcome::SignatureNotPlainAnswer:
        CheckAnswer(kSignatureFile, fetch, true, "Update fails for every player", warnings);
        break;
    case DownloadOutcome::SignatureTooLarge:
        Add(warnings, Severity::Problem, kSignatureFile,
            "it is larger than any signature: Update fails for every player",
            "upload the signature that openssl dgst -sha256 -sign writes for update.exe");
        break;
    case DownloadOutcome::SignatureInvalid:
        if (!ArrivedWhole(signed_)) {
            Add(warnings, Severity::Problem, kSignatureFile,
                "it could not be checked: the key or the platform's SHA-256 could not be used",
                "check the key file: a PEM public key, RSA of 2048 to 4096 bits or ECDSA P-256");
            break;
        }
        Add(warnings, Severity::Problem, kSignatureFile,
            "it does not verify update.exe with the key: Update fails for every player",
            std::string("first ") + kCompareUploadFix +
                "; if they differ, upload your file again, whole, with its update.exe.sig. Only if they are the "
                "same, sign it with the key the updater was built with (openssl dgst -sha256 -sign "
                "private.pem -out update.exe.sig update.exe) and upload update.exe.sig");
        break;
    default: // the package's own problems, named by CheckPackage
        break;
    }
}

std::string SignatureVerdict(const PackageDownload& signed_)
{
    const std::string notChecked = "not checked: ";
    const std::string package = kUpdatePackage;
    switch (signed_.outcome) {
    case DownloadOutcome::Installed:
    case DownloadOutcome::CannotReplace:
        return "verifies " + package;
    case DownloadOutcome::SignatureInvalid:
        return ArrivedWhole(signed_) ? "does not verify " + package
                                     : notChecked + "the key or the platform's SHA-256 could not be used";
    case DownloadOutcome::SignatureMissing:
    case DownloadOutcome::SignatureNotPlainAnswer:
    case DownloadOutcome::SignatureTooLarge:
        return "not usable";
    case DownloadOutcome::TooSlow:
        return signed_.signature.bodyEnd == BodyEnd::TooSlow || signed_.signature.error == TransferError::TooSlow
                   ? "not usable"
                   : notChecked + package + " came too slowly";
    case DownloadOutcome::TransferFailed:
        return notChecked + (signed_.transfer.status ? "the server answered HTTP " +
                                                           std::to_string(signed_.transfer.status) + " for " + package
                                                     : package + " could not be fetched");
    case DownloadOutcome::NotPlainAnswer:
        return notChecked + package + " was not served whole as stored";
    case DownloadOutcome::NotLengthFramed:
        return notChecked + package + " was not served with one Content-Length";
    case DownloadOutcome::CannotWrite:
        return notChecked + "the checker could not write " + package;
    case DownloadOutcome::Incomplete:
        return notChecked + "the download of " + package + " broke off";
    case DownloadOutcome::Empty:
        return notChecked + package + " is empty";
    case DownloadOutcome::SizeMismatch:
        return notChecked + package + " was cut short";
    }
    return notChecked + package + " was not downloaded";
}

int ExitStatus(const Warnings& warnings)
{
    bool problem = std::any_of(warnings.begin(), warnings.end(),
                               [](const Warning& w) { return w.severity == Severity::Problem; });
    return problem ? 1 : 0;
}

bool HasCertificateTable(std::string_view head)
{
    constexpr size_t kPeOffsetAt = 0x3C;
    constexpr size_t kFileHeaderBytes = 4 + 20; // "PE\0\0" and the COFF file header
    constexpr size_t kSecurityDirectory = 4;
    if (head.size() < kPeOffsetAt + 4 || head.substr(0, 2) != "MZ")
        return false;
    size_t pe = LittleEndian(head, kPeOffsetAt, 4);
    if (pe > head.size() || head.size() - pe < kFileHeaderBytes + 2 ||
        head.substr(pe, 4) != std::string_view("PE\0\0", 4))
        return false;
    size_t optional = pe + kFileHeaderBytes;
    size_t optionalBytes = LittleEndian(head, pe + 20, 2);
    // The number of data directories stands at another offset in PE32 and PE32+.
    uint32_t magic = LittleEndian(head, optional, 2);
    size_t countAt = magic == 0x10B ? 92 : magic == 0x20B ? 108 : 0;
    size_t entry = optional + countAt + 4 + 8 * kSecurityDirectory;
    if (countAt == 0 || entry + 8 > optional + optionalBytes || entry + 8 > head.size() ||
        LittleEndian(head, optional + countAt, 4) <= kSecurityDirectory)
        return false;
    return LittleEndian(head, entry, 4) != 0 && LittleEndian(head, entry + 4, 4) != 0;
}

std::optional<size_t> FindInvalidCp932(std::string_view bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (IsCp932Single(c))
            continue;
        if (!IsCp932Lead(c) || i + 1 >= bytes.size() || !IsCp932Trail(static_cast<unsigned char>(bytes[i + 1])))
            return i;
        ++i;
    }
    return std::nullopt;
}

bool LooksLikeUtf8(std::string_view bytes)
{
    if (bytes.substr(0, 3) == kUtf8Bom)
        return true;
    bool beyondAscii = false;
    for (size_t i = 0; i < bytes.size();) {
        size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0)
            return false;
        beyondAscii = beyondAscii || length > 1;
        i += length;
    }
    return beyondAscii;
}

std::string EscapeBytes(std::string_view bytes)
{
    std::string text;
    for (char byte : bytes) {
        auto c = static_cast<unsigned char>(byte);
        if (c == '\r')
            text += "\\r";
        else if (c == '\n')
            text += "\\n";
        else if (c == '\t')
            text += "\\t";
        else if (c == '\\')
            text += "\\\\";
        else if (c < 0x20 || c >= 0x7F)
            text += "\\x" + Hex(c).substr(2);
        else
            text += byte;
    }
    return text;
}

std::string RedactUrl(std::string_view url)
{
    size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return std::string(url);
    size_t start = scheme + 3;
    size_t end = url.find_first_of("/?#", start);
    size_t at = url.substr(0, end).rfind('@');
    if (at == std::string_view::npos || at < start)
        return std::string(url);
    return std::string(url.substr(0, start)) + "***" + std::string(url.substr(at));
}

std::string FormatBytes(uint64_t bytes)
{
    return WithSeparators(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string FormatProgress(uint64_t received, std::optional<uint64_t> total)
{
    if (!total || *total == 0)
        return FormatBytes(received);
    auto percent = static_cast<unsigned>(std::min(100.0, 100.0 * static_cast<double>(received) /
                                                            static_cast<double>(*total)));
    return WithSeparators(received) + " of " + FormatBytes(*total) + " (" + std::to_string(percent) + "%)";
}
