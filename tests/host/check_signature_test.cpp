// The rules for the package's detached signature, and what the report says
// it verified.
#include "check_facts.h"

namespace {

TEST(CheckSignatureRules, GiveExactlyTheExpectedWarning)
{
    constexpr Severity kProblem = Severity::Problem;
    using DO = DownloadOutcome;
    ExpectOneWarning({
        {Signature(DO::SignatureMissing), kProblem, "read whole"},
        {Signature(DO::SignatureTooLarge), kProblem, "larger than any"},
        {Signature(DO::SignatureInvalid, Fetch(), 9000), kProblem, "does not verify update.exe"},
        {Signature(DO::SignatureInvalid), kProblem, "could not be checked"},
        // After a good signature, the package's own faults are the package's warnings.
        {Signature(DO::TransferFailed, Fetch(), 0), kProblem, nullptr},
        {Signature(DO::SizeMismatch, Fetch(), 5000), kProblem, nullptr},
        {Signature(DO::TooSlow, Fetch(), 31), kProblem, nullptr},
        {Signature(DO::Installed, Fetch(), 9000), kProblem, nullptr},
    });
}

TEST(CheckSignatureRules, FixesSayWhatToRun)
{
    ExpectFirstFix({
        // A cut upload shows in size and digest; signing it again would hide it.
        {Signature(DownloadOutcome::SignatureInvalid, Fetch(), 9000),
         "first compare update.exe as served with the signed file you uploaded: the update.exe block above shows "
         "the size and SHA-256 served, ls -l update.exe and sha256sum update.exe"},
        {Signature(DownloadOutcome::SignatureInvalid, Fetch(), 9000),
         "; if they differ, upload your file again, whole, with its update.exe.sig. Only if they are the same, sign it"},
    });
}

// "verifies" only when the signature was checked over the whole package; after
// a package that did not arrive whole, why it could not be checked.
TEST(CheckRules, SignatureVerdictSaysWhatWasChecked)
{
    using DO = DownloadOutcome;
    TransferInfo notFound = Fetch({}, TransferError::HttpStatus);
    notFound.status = 404;
    const struct {
        PackageDownload download;
        const char* verdict;
    } cases[] = {
        {Signed(DO::Installed, Fetch(), 9000), "verifies update.exe"},
        {Signed(DO::SignatureInvalid, Fetch(), 9000), "does not verify update.exe"},
        {Signed(DO::SignatureInvalid), "not checked: the key or the platform's SHA-256 could not be used"},
        {Signed(DO::SignatureMissing, Fetch({}, TransferError::HttpStatus)), "not usable"},
        {Signed(DO::TooSlow, Bounded(BodyEnd::TooSlow, 30, 30200)), "not usable"},
        {Signed(DO::TooSlow, Fetch({}, TransferError::TooSlow)), "not usable"},
        {PackageDownload{DO::TransferFailed, 0, notFound, Fetch(), 0, {}},
         "not checked: the server answered HTTP 404 for update.exe"},
        {PackageDownload{DO::TransferFailed, 0, Fetch({}, TransferError::Unreachable), Fetch(), 0, {}},
         "not checked: update.exe could not be fetched"},
        {Signed(DO::SizeMismatch, Fetch(), 5000), "not checked: update.exe was cut short"},
        {Signed(DO::TooSlow, Fetch(), 31), "not checked: update.exe came too slowly"},
        {Signed(DO::Incomplete, Fetch(), 3000), "not checked: the download of update.exe broke off"},
        {Signed(DO::Empty, Fetch(), 0), "not checked: update.exe is empty"},
        {Signed(DO::NotPlainAnswer, Fetch(), 0), "not checked: update.exe was not served whole as stored"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SignatureVerdict(c.download), c.verdict);
}

} // namespace
