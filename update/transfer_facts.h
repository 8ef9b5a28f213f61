// What the updater's transfers report: the server's files, why a transfer
// failed, how a body ended, the facts of an answer and what a fetch found.
// The transfers, the dialog and the server checker all speak of them in
// these terms. Pure logic: no platform header.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The files of the update directory on the server. The package keeps its name
// in the working folder; its signature lies beside it on the server.
inline constexpr char kVersionFile[] = "version.dat";
inline constexpr char kNewsFile[] = "text.txt";
inline constexpr char kUpdatePackage[] = "update.exe";
inline constexpr char kSignatureSuffix[] = ".sig";

// The HTTP client's (WinINet's) error codes that the updater tells apart,
// named as its header names them (ERROR_INTERNET_...).
enum class ClientError : uint32_t {
    CannotConnect = 12029,
    SecCertDateInvalid = 12037,
    SecCertCnInvalid = 12038,
    InvalidCa = 12045,
    SecCertErrors = 12055,
    SecCertNoRev = 12056,
    SecCertRevFailed = 12057,
    SecInvalidCert = 12169,
    SecCertRevoked = 12170,
};

// True for the client's errors that reject the server's certificate.
bool IsCertificateError(uint32_t clientError);

// Why a transfer could not be opened.
enum class TransferError {
    None,
    BadUrl,           // longer than 255 characters, or not an http or https URL
    Unreachable,      // no connection, no answer in time, or no HTTP answer
    Certificate,      // the platform rejected the server's certificate
    InsecureRedirect, // an https request was redirected to plain http
    TooManyRedirects, // more than 10 redirects, as a redirect loop gives
    HttpStatus,       // the server answered with a status other than 2xx
    NoTimeLeft,       // not sent: the time for it was used up before it was due
    UnreadableHeader, // a header of the answer could not be read whole
    TimeUp,           // the transfer's deadline passed before its answer began (redirects and waits count)
    TooSlow,          // no answer began in the progress floor's window (redirects and waits count)
    Stopped,          // the caller's wait hook asked to stop before the answer began
};

// How the reading of a body ended.
enum class BodyEnd {
    Complete, // the server's body ended with a successful empty read
    Stopped,  // the consumer, or the caller's wait hook, asked to stop
    Failed,   // a read failed or timed out
    TimeUp,   // the deadline passed: what arrived before it stands
    TooSlow,  // fewer than kMinProgressBytes arrived in kProgressWindow
};

// What became of a transfer, for those who report on the server.
struct TransferInfo {
    std::string requestedUrl; // empty when no request was due
    std::string url;          // after any redirects the server asked for
    uint32_t status = 0;      // the HTTP status, 0 when there was no answer
    TransferError error = TransferError::None;
    uint32_t systemError = 0; // the client's error code behind Unreachable or Certificate
    std::vector<std::string> contentLengthHeaders; // every Content-Length value, as sent
    std::optional<uint64_t> contentLength; // the length they announce, when they give one
    bool contentLengthMalformed = false;   // one is not plain digits, or two differ
    std::string contentEncoding;           // empty when none was sent
    std::string transferEncoding;          // empty when none was sent
    // What a resumed download is judged by; each empty when not sent, or
    // not readable whole (no resume then).
    std::vector<std::string> etags;        // every ETag value, as sent
    std::string lastModified;
    std::string date;
    std::string acceptRanges;              // every Accept-Ranges value joined
    std::vector<std::string> contentRanges; // every Content-Range value, as sent
    std::string contentType;
    BodyEnd bodyEnd = BodyEnd::Complete;   // once the body was read
    uint64_t bodyBytes = 0;                // of the body, received
    std::chrono::milliseconds answerTime{0}; // from the request to the answer's head, redirects included
    std::chrono::milliseconds bodyTime{0}; // spent reading the body
};

// Why an answer cannot be taken as a downloaded file, which must be the whole
// file as stored: status 200 (not 206 or another 2xx), at most one announced
// length, in plain digits, and no Content-Encoding but identity.
enum class AnswerFault { None, NotWhole, ContentLength, ContentEncoding };
AnswerFault DownloadAnswerFault(const TransferInfo& info);

enum class DownloadOutcome {
    Installed,         // the package arrived whole (and verified) and took its local name
    TransferFailed,    // the package could not be fetched: see the package's transfer
    NotPlainAnswer,    // the answer is not the whole package as stored: DownloadAnswerFault says why
    NotLengthFramed,   // unsigned: no one plain Content-Length (chunked, or ended by closing), so a cut would look whole
    CannotWrite,       // the temporary file could not be created or written
    Incomplete,        // a read failed or timed out before the body ended
    TooSlow,           // the package or signature stopped making progress: see their bodyEnd, or error
                       // (TransferError::TooSlow: no answer began in time)
    Empty,             // the body was empty
    SizeMismatch,      // the body's size differs from the announced Content-Length
    SignatureMissing,  // the signature could not be fetched: see the signature's transfer
    SignatureNotPlainAnswer, // its answer is not the whole file: DownloadAnswerFault says why
    SignatureTooLarge, // the signature file is larger than any signature
    SignatureInvalid,  // the signature does not verify with the key, or the key is unusable
    CannotReplace,     // the finished package could not replace the local file
    Stopped,           // the caller's wait hook asked to stop: the player closed the window
    ResumeRefused,     // after a drop, the request for the rest was not answered with exactly that rest, nor a whole file
};

// What each fetch gives back: what it found, and what became of its transfer.

struct VersionFileFetch {
    std::optional<std::string> body; // what the updater read of it; nothing when no read succeeded
    TransferInfo transfer;
};

struct NewsFetch {
    std::optional<std::string> news; // as far as it arrived; nothing when the file could not be fetched
    TransferInfo transfer;
};

struct PackageDownload {
    DownloadOutcome outcome = DownloadOutcome::TransferFailed;
    uint64_t received = 0;  // bytes of the package in the temporary file: the whole file, however many requests
    TransferInfo transfer;  // the package's whole answer: the first, or the 200 that started it again; no
                            // requestedUrl when a signature fault stopped it before
    TransferInfo signature; // the signature's, when a key asks for one
    int resumes = 0;        // requests that went on after a drop
    TransferInfo lastRange; // the answer to the last request for the rest, when there was one
};
