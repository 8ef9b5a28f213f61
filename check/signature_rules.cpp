#include "signature_rules.h"

#include "package_rules.h"

namespace {

const std::string kSignatureName = std::string(kUpdatePackage) + kSignatureSuffix;
const char* const kSignatureFile = kSignatureName.c_str();

} // namespace

void CheckSignature(const PackageDownload& signed_, Warnings& warnings)
{
    const TransferInfo& fetch = signed_.signature;
    switch (signed_.outcome) {
    case DownloadOutcome::SignatureMissing:
        if (CheckTransfer(kSignatureFile, fetch, "Update fails for every player", warnings)) {
            AddWarning(warnings, Severity::Problem, kSignatureFile,
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
        AddWarning(warnings, Severity::Problem, kSignatureFile,
            "it is larger than any signature: Update fails for every player",
            "upload the signature that openssl dgst -sha256 -sign writes for update.exe");
        break;
    case DownloadOutcome::SignatureInvalid:
        if (!ArrivedWhole(signed_)) {
            AddWarning(warnings, Severity::Problem, kSignatureFile,
                "it could not be checked: the key or the platform's SHA-256 could not be used",
                "check the key file: a PEM public key, RSA of 2048 to 4096 bits or ECDSA P-256");
            break;
        }
        AddWarning(warnings, Severity::Problem, kSignatureFile,
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
    case DownloadOutcome::ResumeRefused:
        return notChecked + "the download of " + package + " broke off and could not go on";
    case DownloadOutcome::Stopped:
        return notChecked + "the download of " + package + " was stopped";
    }
    return notChecked + package + " was not downloaded";
}
