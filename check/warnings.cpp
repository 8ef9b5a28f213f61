#include "warnings.h"

#include <algorithm>
#include <cstdio>

#include "http_answer.h"
#include "transfer_bounds.h"

namespace {

constexpr char kSlowHeadFix[] = "serve the file at once from the update directory, without redirects, and check for a "
                                "proxy that holds back the head";

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

} // namespace

void AddWarning(Warnings& warnings, Severity severity, const char* file, std::string cause, std::string fix)
{
    warnings.push_back(Warning{severity, file, std::move(cause), std::move(fix)});
}

int ExitStatus(const Warnings& warnings)
{
    bool problem = std::any_of(warnings.begin(), warnings.end(),
                               [](const Warning& w) { return w.severity == Severity::Problem; });
    return problem ? 1 : 0;
}

bool CheckTransfer(const char* file, const TransferInfo& fetch, const char* consequence, Warnings& warnings)
{
    const std::string what = std::string(file) + " ";
    const std::string requestedUrl = RedactUrl(fetch.requestedUrl), finalUrl = RedactUrl(fetch.url);
    switch (fetch.error) {
    case TransferError::None:
        return true;
    case TransferError::BadUrl:
        if (finalUrl != requestedUrl) {
            AddWarning(warnings, Severity::Problem, file,
                "the server redirected to " + finalUrl +
                    ", which is not an http or https URL of at most 255 characters; " + consequence,
                "redirect to a shorter http or https URL, or serve the file without a redirect");
            break;
        }
        AddWarning(warnings, Severity::Problem, file,
            "the URL " + requestedUrl + " is not an http or https URL of at most 255 characters; " +
                consequence,
            "use a shorter update directory URL of the form http://HOST[:PORT]/game/veltrassa_01/update/");
        break;
    case TransferError::Unreachable:
        AddWarning(warnings, Severity::Problem, file,
            "no answer from the server for " + requestedUrl + " (no connection, or nothing within 5 s" +
                (fetch.systemError ? ", error " + std::to_string(fetch.systemError) : std::string()) + "); " +
                consequence,
            "check the host name and port, that the server runs and that players' networks can reach it");
        break;
    case TransferError::Certificate:
        AddWarning(warnings, Severity::Problem, file,
            "Windows rejects the server's certificate: " + CertificateErrorName(fetch.systemError) + "; " +
                consequence,
            "serve a valid certificate for this host name, issued by a CA Windows trusts, with the whole chain");
        break;
    case TransferError::InsecureRedirect:
        AddWarning(warnings, Severity::Problem, file,
            "the https request was redirected to plain http (" + finalUrl +
                "), which the updater refuses; " + consequence,
            "make the server or CDN redirect to https addresses only, or not redirect at all");
        break;
    case TransferError::TooManyRedirects:
        AddWarning(warnings, Severity::Problem, file,
            "more than 10 redirects, the last to " + finalUrl + " (a redirect loop?), which the updater gives up; " +
                consequence,
            "make the redirect point at the file itself, in one step");
        break;
    case TransferError::HttpStatus:
        AddWarning(warnings, Severity::Problem, file,
            "the server answered HTTP " + std::to_string(fetch.status) + " for " + finalUrl + "; " +
                consequence,
            fetch.status != 404 && fetch.status != 410
                ? "make " + what + "readable to everyone: check the server's or CDN's access rules"
            : std::string_view(file) == kVersionFile
                ? "upload version.dat to the update directory, last: after update.exe, update.exe.sig and text.txt"
                : "upload " + what + "to the update directory (before version.dat announces a new version)");
        break;
    case TransferError::NoTimeLeft:
        AddWarning(warnings, Severity::Problem, file,
            "not fetched: the updater's start-up fetches (" + FormatSeconds(kStartupFetchTime) +
                " in all) had used up their time before it was due; " + consequence,
            "make the server answer version.dat at once; see its own warning");
        break;
    case TransferError::UnreadableHeader:
        AddWarning(warnings, Severity::Problem, file,
            "a header of the answer for " + finalUrl +
                " (its length or encodings) could not be read whole, so the updater refuses the answer; " +
                consequence,
            "send plain headers: one short Content-Length, and no Content-Encoding or Transfer-Encoding lists "
            "that a proxy or CDN rule keeps adding to");
        break;
    case TransferError::TimeUp:
        AddWarning(warnings, Severity::Problem, file,
            "no whole answer head came before the updater's start-up time (" + FormatSeconds(kStartupFetchTime) +
                " in all) was up: a head sent slowly, redirects and waits all count against it; the last request "
                "went to " + finalUrl + "; " + consequence,
            kSlowHeadFix);
        break;
    case TransferError::TooSlow:
        AddWarning(warnings, Severity::Problem, file,
            "no whole answer head came within " + FormatSeconds(kProgressWindow) +
                ": a head sent slowly, redirects and waits all count against the updater's download floor; the "
                "last request went to " + finalUrl + "; " + consequence,
            kSlowHeadFix);
        break;
    case TransferError::Stopped:
        // The checker's transfers have no wait hook that could stop them.
        AddWarning(warnings, Severity::Problem, file,
            std::string("the transfer was stopped before its answer came; ") + consequence, "run the checker again");
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
    AddWarning(warnings, Severity::Problem, file,
        "the body came too slowly: the updater stopped reading it after " + FormatBytes(fetch.bodyBytes) + " in " +
            FormatSeconds(fetch.bodyTime) + " (" + bound + ", so that its window shows); " + seen,
        std::string("serve ") + file + " at once: check the server's load, and any proxy or CDN in between");
    return false;
}

// A download that fell under the progress floor.
void CheckProgress(const char* file, const TransferInfo& fetch, Warnings& warnings)
{
    AddWarning(warnings, Severity::Problem, file,
        "it came too slowly: fewer than " + FormatBytes(kMinProgressBytes) + " arrived in " +
            FormatSeconds(kProgressWindow) + " (" + FormatBytes(fetch.bodyBytes) + " in " +
            FormatSeconds(fetch.bodyTime) + "), and the updater gave up: Update fails for every player",
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
        AddWarning(warnings, Severity::Problem, file,
            "the server answered HTTP " + std::to_string(fetch.status) + " for " + url +
                ", not 200 with the whole file: the updater refuses it; " + consequence,
            std::string("serve ") + file + " whole with status 200; check that no cache or CDN stores partial answers");
        plain = false;
    }
    if (downloadedWhole && fetch.contentLengthMalformed) {
        std::string values;
        for (const std::string& value : fetch.contentLengthHeaders)
            values += (values.empty() ? "Content-Length: " : ", and Content-Length: ") + EscapeBytes(value);
        AddWarning(warnings, Severity::Problem, file,
            "the answer announces its length as " + values +
                ", not one length in plain digits: the updater cannot check the size and refuses it; " + consequence,
            "send one Content-Length header with the file's size in plain digits; check proxies and CDN rules "
            "that add another");
        plain = false;
    }
    if (!IsIdentityEncoding(fetch.contentEncoding)) {
        AddWarning(warnings, Severity::Problem, file,
            "the answer has Content-Encoding: " + EscapeBytes(fetch.contentEncoding) +
                ", which the updater never asks for: its bytes are not the file as stored" +
                (downloadedWhole ? std::string(", and the updater refuses it; ") + consequence
                                 : std::string(", and players see them as they are")),
            std::string("serve ") + file + " as stored, without compression (turn it off for this directory)");
        plain = false;
    }
    return plain;
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
            text += "\\x" + HexByte(c).substr(2);
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

std::string HexByte(unsigned char value)
{
    const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[value >> 4] + digits[value & 0xF];
}

std::string WithSeparators(uint64_t value)
{
    std::string digits = std::to_string(value);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

std::string FormatBytes(uint64_t bytes)
{
    return WithSeparators(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string FormatSeconds(std::chrono::milliseconds time)
{
    const double seconds = std::chrono::duration<double>(time).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.*f s", seconds == static_cast<int>(seconds) ? 0 : 2, seconds);
    return text;
}
