#include "package_rules.h"

#include "length_framing.h"
#include "resume.h"

#include <optional>

#include "pe_layout.h"

namespace {

constexpr const char* kPackageFile = kUpdatePackage;

} // namespace

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

// Whether players whose connection drops during the download can go on from
// where it stopped: only with a strong validator and byte ranges. A package
// without one length has warnings of its own.
void CheckResumable(const TransferInfo& fetch, Warnings& warnings)
{
    if (!FramedByOneLength(fetch.contentLengthHeaders, fetch.transferEncoding))
        return;
    if (!ResumeValidator(fetch)) {
        AddWarning(warnings, Severity::Notice, kPackageFile,
            "the answer gives no strong validator (an ETag not marked W/, or without any ETag a Last-Modified at "
            "least a second before its Date), so a player whose connection drops during the download starts "
            "again from the first byte",
            "serve update.exe as a static file with its ETag; make any CDN or proxy in between pass ETag and "
            "Accept-Ranges on");
    } else if (!AcceptsByteRanges(fetch.acceptRanges)) {
        AddWarning(warnings, Severity::Notice, kPackageFile,
            "the answer does not say Accept-Ranges: bytes, so a player whose connection drops during the download "
            "may have to start again from the first byte",
            "serve update.exe as a static file, with byte ranges on (every static file server has them)");
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
    case DownloadOutcome::CannotReplace: {
        // Whether it verifies is Windows' to judge.
        const std::optional<PeLayout> layout = ReadPeLayout(facts.head);
        if (facts.head.substr(0, 2) != "MZ") {
            AddWarning(warnings, Severity::Problem, kPackageFile,
                "it is not a Windows executable (it does not start with MZ): players download it and it "
                "fails to start",
                "upload the self-extracting package itself, not an error page, an archive or a link");
        } else if (!layout || !layout->NamesCertificateTable()) {
            AddWarning(warnings, Severity::Notice, kPackageFile,
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
            AddWarning(warnings, Severity::Notice, kPackageFile,
                "it is served without Content-Length, so a download cut short looks whole: the signature "
                "check refuses it, but only once it has all arrived",
                "serve update.exe with Content-Length: a static file, without chunked encoding");
        }
        CheckResumable(fetch, warnings);
        break;
    }
    case DownloadOutcome::TransferFailed:
    case DownloadOutcome::NotPlainAnswer: // named above
    case DownloadOutcome::Stopped:        // the checker's transfers have no wait hook that could stop them
        break;
    case DownloadOutcome::ResumeRefused:
        AddWarning(warnings, Severity::Problem, kPackageFile,
            "the download broke off after " + FormatBytes(facts.download.received) +
                ", and the server answered the request for the rest (Range, If-Range) " +
                (facts.download.lastRange.status ? "with HTTP " + std::to_string(facts.download.lastRange.status)
                                                 : std::string("without an answer")) +
                ", not with exactly that rest nor the whole file: Update fails for players whose connection drops",
            "serve update.exe as a static file: a range request must get 206 with the rest of the same file, or "
            "200 with the whole file");
        break;
    case DownloadOutcome::NotLengthFramed:
        // Only the checker's second, unsigned download of a signed build's
        // package meets this: that build takes such a package.
        if (facts.signed_) {
            AddWarning(warnings, Severity::Notice, kPackageFile,
                "it is served without Content-Length, or chunked, so a download cut short looks whole: the "
                "signature check refuses it, but only once it has all arrived; the checker did not examine it",
                "serve update.exe with one Content-Length: a static file, without chunked encoding");
            break;
        }
        AddWarning(warnings, Severity::Problem, kPackageFile,
            "it is served without Content-Length, or chunked, so a download cut short would look whole: the "
            "updater refuses it, and Update fails for every player",
            "serve update.exe with one Content-Length: a static file, without chunked encoding; or build the "
            "updater with a package key, whose signature check proves the bytes however they are sent");
        break;
    case DownloadOutcome::TooSlow:
        CheckProgress(kPackageFile, fetch, warnings);
        break;
    case DownloadOutcome::CannotWrite:
        AddWarning(warnings, Severity::Problem, kPackageFile,
            "the checker could not write its temporary copy, so the package was not examined",
            "free space in the temporary folder (TEMP), or skip the package with --no-package");
        break;
    case DownloadOutcome::Incomplete:
        AddWarning(warnings, Severity::Problem, kPackageFile,
            "the body stopped after " + FormatBytes(facts.download.received) +
                " (a read failed or nothing came for 5 s): Update fails",
            "check that the server sends the whole file without stalling");
        break;
    case DownloadOutcome::Empty:
        AddWarning(warnings, Severity::Problem, kPackageFile, "it is empty: Update fails for every player",
            "upload the package again, whole");
        break;
    case DownloadOutcome::SizeMismatch:
        AddWarning(warnings, Severity::Problem, kPackageFile,
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
    AddWarning(warnings, Severity::Problem, kPackageFile,
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
            AddWarning(warnings, Severity::Problem, kPackageFile,
                "it ends inside its PE headers, which take " + FormatBytes(layout->headersEnd) + served +
                    "it was cut short, and the program cannot start",
                fix);
        }
        return;
    }
    const bool tableNamed = layout->NamesCertificateTable();
    const bool tableFits = layout->CertificateEnd() <= facts.download.received;
    if (layout->sectionsEnd > facts.download.received) {
        AddWarning(warnings, Severity::Problem, kPackageFile,
            "its PE headers place section data up to byte " + WithSeparators(layout->sectionsEnd) + served +
                "it ends inside its sections, cut short (on upload?), and the program cannot start",
            fix);
    } else if (tableNamed && !tableFits) {
        AddWarning(warnings, Severity::Problem, kPackageFile,
            "its Authenticode certificate table runs to byte " + WithSeparators(layout->CertificateEnd()) + served +
                "it was cut short (on upload?), and whatever the package holds after its sections, such as "
                "its archive, is incomplete",
            fix);
    }
    if (tableNamed && !tableFits) {
        AddWarning(warnings, Severity::Notice, kPackageFile,
            "its header names an Authenticode certificate table beyond the end of the file, so it carries no "
            "Authenticode signature: Windows SmartScreen and antivirus products warn about, or block, a "
            "downloaded program that no publisher signed",
            "upload the whole signed file; its certificate table is its last part");
    }
}
