#include "transfer.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "async_request.h"
#include "http_answer.h"

namespace {

// Spelt "tesly", not as the game's "tesli": servers' logs and rules know the
// updater by this name.
constexpr char kAgent[] = "update_harun_tesly";
constexpr DWORD kReceiveTimeoutMs = 5000;
constexpr std::chrono::milliseconds kReceiveTimeout{kReceiveTimeoutMs};
// URLs have always been copied into a 256-byte buffer.
constexpr size_t kMaxUrlLength = 255;
constexpr DWORD kChunkSize = 1024;
// A window that handles its messages this often never looks hung, and a
// download's reads stay free of that cost.
constexpr std::chrono::milliseconds kHandleMessagesEvery{50};

// The milliseconds from now until at, 0 once it has passed.
DWORD MillisecondsUntil(TransferClock::time_point at)
{
    const TransferClock::time_point now = TransferClock::now();
    return now < at ? static_cast<DWORD>((at - now).count()) : 0;
}

void SetReceiveTimeout(HINTERNET handle)
{
    DWORD timeout = kReceiveTimeoutMs;
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

// The client takes an answer without a status line for a bare body and makes
// up "HTTP/1.0 200 OK" for it, with no header lines; a status line cut off by
// a closed connection looks the same. Every real answer has header lines.
bool HasHeaderLines(HINTERNET request)
{
    DWORD size = 0;
    HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    if (size == 0)
        return false;
    std::string headers(size, '\0');
    if (!HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, headers.data(), &size, nullptr))
        return false;
    headers.resize(size);
    size_t firstLineEnd = headers.find('\n');
    return firstLineEnd != std::string::npos && headers.find(':', firstLineEnd) != std::string::npos;
}

// The names of the client's errors are its header's.
static_assert(static_cast<uint32_t>(ClientError::CannotConnect) == ERROR_INTERNET_CANNOT_CONNECT);
static_assert(static_cast<uint32_t>(ClientError::SecCertDateInvalid) == ERROR_INTERNET_SEC_CERT_DATE_INVALID);
static_assert(static_cast<uint32_t>(ClientError::SecCertCnInvalid) == ERROR_INTERNET_SEC_CERT_CN_INVALID);
static_assert(static_cast<uint32_t>(ClientError::InvalidCa) == ERROR_INTERNET_INVALID_CA);
static_assert(static_cast<uint32_t>(ClientError::SecCertErrors) == ERROR_INTERNET_SEC_CERT_ERRORS);
static_assert(static_cast<uint32_t>(ClientError::SecCertNoRev) == ERROR_INTERNET_SEC_CERT_NO_REV);
static_assert(static_cast<uint32_t>(ClientError::SecCertRevFailed) == ERROR_INTERNET_SEC_CERT_REV_FAILED);
static_assert(static_cast<uint32_t>(ClientError::SecInvalidCert) == ERROR_INTERNET_SEC_INVALID_CERT);
static_assert(static_cast<uint32_t>(ClientError::SecCertRevoked) == ERROR_INTERNET_SEC_CERT_REVOKED);

// The errors of a request whose connection ended before any byte of an
// answer: reset, or aborted (Wine reports a reset so).
bool AnswerNeverBegan(DWORD error)
{
    return error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_CONNECTION_ABORTED;
}

// Every value of a header the answer holds, in order; a header sent twice is
// kept twice. Each value is read whole, whatever its length: the size is
// asked first. False when a value the client holds cannot be read whole; a
// value cut to a buffer, or taken for an absent header, would make a padded
// Content-Length or a long Content-Encoding look like none.
bool HeaderValues(HINTERNET request, DWORD header, std::vector<std::string>& values)
{
    values.clear();
    for (DWORD index = 0;;) {
        DWORD before = index;
        DWORD size = 0;
        if (HttpQueryInfoA(request, header, nullptr, &size, &index))
            return false;
        DWORD error = GetLastError();
        if (error == ERROR_HTTP_HEADER_NOT_FOUND)
            return true;
        // Both Windows and Wine give the size with the terminating NUL.
        if (error != ERROR_INSUFFICIENT_BUFFER || size == 0)
            return false;
        std::string value(size, '\0');
        DWORD length = size;
        if (!HttpQueryInfoA(request, header, value.data(), &length, &index) || index == before)
            return false;
        value.resize(strnlen(value.data(), std::min<size_t>(length, value.size())));
        values.push_back(std::move(value));
    }
}

// Every value of a header, joined as one list; false as for HeaderValues.
bool JoinedValues(HINTERNET request, DWORD header, std::string& joined)
{
    std::vector<std::string> values;
    if (!HeaderValues(request, header, values))
        return false;
    joined.clear();
    for (const std::string& value : values)
        joined += (joined.empty() ? "" : ", ") + value;
    return true;
}

bool IsRedirect(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The target of a redirect, resolved against the URL that answered with it;
// empty when there is none.
std::string RedirectTarget(HINTERNET request, const std::string& from)
{
    char location[INTERNET_MAX_URL_LENGTH] = {};
    DWORD size = sizeof location - 1;
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &size, nullptr) || location[0] == '\0')
        return {};
    char target[INTERNET_MAX_URL_LENGTH] = {};
    DWORD length = sizeof target;
    if (!InternetCombineUrlA(from.c_str(), location, target, &length, ICU_NO_ENCODE))
        return {};
    return std::string(target, strnlen(target, sizeof target));
}

} // namespace

TransferBounds::TransferBounds() : start(TransferClock::now())
{
    floor.Holds(0, TransferClock::duration::zero());
}

bool CTransfer::Open(const std::string& url, const ReadLimits& limits, const std::string& headers)
{
    m_info = TransferInfo();
    m_stopped = false;
    m_info.requestedUrl = url;
    m_info.url = url;
    m_ownBounds = TransferBounds();
    m_bounds = limits.download ? limits.download : &m_ownBounds;
    const Clock::time_point openedAt = Clock::now();
    // However Open ends.
    struct AnswerClock {
        TransferInfo& info;
        const Clock::time_point start = Clock::now();
        ~AnswerClock() { info.answerTime = Clock::now() - start; }
    } answerClock{m_info};
    // Asynchronous: the client waits for the server on threads of its own,
    // and this thread waits for it with a deadline (CAsyncRequest).
    m_internet.reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    SetReceiveTimeout(m_internet.get());
    CAsyncRequest::Attach(m_internet.get());
    // The head of every answer, redirects' included, arrives by the
    // transfer's deadline, or within the progress floor's window from this
    // transfer's first request: no byte of the body can come sooner.
    HeadBound headBound{openedAt + kProgressWindow, TransferError::TooSlow};
    if (limits.deadline && *limits.deadline < headBound.at)
        headBound = HeadBound{*limits.deadline, TransferError::TimeUp};
    m_waitBound = headBound.at;

    // Redirects are followed here rather than by the client: Wine's follows a
    // redirect to the same address without end, and follows one from https to
    // plain http silently. Both are refused the same way on every Windows.
    for (int sent = 0;; ++sent) {
        // Between two requests: a chain of slow redirects, or a retry, ends
        // at the same bounds as a slow body.
        if (sent > 0) {
            const Clock::time_point now = Clock::now();
            if (limits.deadline && now >= *limits.deadline)
                return Fail(TransferError::TimeUp);
            if (limits.download && !m_bounds->floor.Holds(m_bounds->arrived, now - m_bounds->start))
                return Fail(TransferError::TooSlow);
        }
        const Clock::time_point sentAt = Clock::now();
        if (!Send(m_info.url, headers, headBound)) {
            // The connection was dropped before any byte of the answer came,
            // as a kept-alive connection is when the server's (or a load
            // balancer's) idle timeout strikes just as the request goes out.
            // The dropped connection has left the client's pool, so the GET
            // goes once more on a fresh one. Once any byte arrived the client
            // reports an answer, or a failed read, and nothing is sent again.
            // Wine reports the receive timeout with the same error as a
            // drop: a request that waited that long met a silent server.
            if (m_bounds->retryLeft && AnswerNeverBegan(m_info.systemError) &&
                Clock::now() - sentAt < kReceiveTimeout) {
                m_bounds->retryLeft = false;
                // The fault was the connection's, not the answer's.
                m_info.error = TransferError::None;
                m_info.systemError = 0;
                continue;
            }
            return false;
        }
        if (!HasHeaderLines(m_request.Get()))
            return Fail(TransferError::Unreachable);
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!HttpQueryInfoA(m_request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                            &size, nullptr))
            return Fail(TransferError::Unreachable);
        m_info.status = status;
        std::string target = IsRedirect(status) ? RedirectTarget(m_request.Get(), m_info.url) : "";
        if (target.empty())
            break;
        if (m_bounds->redirectsLeft == 0)
            return Fail(TransferError::TooManyRedirects);
        bool fromSecure = _strnicmp(m_info.url.c_str(), "https:", 6) == 0;
        bool toSecure = _strnicmp(target.c_str(), "https:", 6) == 0;
        if (fromSecure && !toSecure)
            return Fail(TransferError::InsecureRedirect);
        m_info.url = target;
        --m_bounds->redirectsLeft;
    }
    if (!ReadBodyHeaders())
        return Fail(TransferError::UnreadableHeader);
    if (m_info.status < 200 || m_info.status > 299)
        return Fail(TransferError::HttpStatus);
    return true;
}

DWORD CTransfer::ClosingWaitMs() const
{
    return m_stopped ? 0 : std::min(MillisecondsUntil(m_waitBound), kReceiveTimeoutMs);
}

bool CTransfer::Send(const std::string& url, const std::string& headers, const HeadBound& headBound)
{
    m_request.Close(ClosingWaitMs());
    m_connection.reset();
    m_available = 0;
    if (url.size() > kMaxUrlLength)
        return Fail(TransferError::BadUrl);

    char host[kMaxUrlLength + 1] = {};
    char path[kMaxUrlLength + 1] = {};
    char extra[kMaxUrlLength + 1] = {};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    parts.lpszExtraInfo = extra;
    parts.dwExtraInfoLength = sizeof extra;
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts))
        return Fail(TransferError::BadUrl);
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return Fail(TransferError::BadUrl);

    m_connection.reset(InternetConnectA(m_internet.get(), host, parts.nPort, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, 0));
    if (!m_connection)
        return Fail(TransferError::Unreachable, GetLastError());

    DWORD flags = kTransferCacheFlags | INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    std::string object = std::string(path) + extra;
    if (!m_request.Open(m_connection.get(), object.c_str(), flags, m_hook))
        return Fail(TransferError::Unreachable, GetLastError());
    // Wine's client does not carry the Internet handle's receive timeout over
    // to requests; set on the request it bounds every wait for the server
    // that falls silent.
    SetReceiveTimeout(m_request.Get());
    // A server that sends its head a byte at a time is never silent: the wait
    // for the head ends at the transfer's bound.
    DWORD error = 0;
    switch (m_request.Send(headers, MillisecondsUntil(headBound.at), &error)) {
    case CAsyncRequest::Outcome::Done:
        return true;
    case CAsyncRequest::Outcome::TimeUp:
        m_request.Close();
        return Fail(headBound.error);
    case CAsyncRequest::Outcome::Stopped:
        m_stopped = true;
        m_request.Close();
        return Fail(TransferError::Stopped);
    case CAsyncRequest::Outcome::Failed:
        break;
    }
    return Fail(IsCertificateError(error) ? TransferError::Certificate : TransferError::Unreachable, error);
}

bool CTransfer::Fail(TransferError error, DWORD systemError)
{
    m_info.error = error;
    m_info.systemError = systemError;
    return false;
}

bool CTransfer::Read(char* buffer, DWORD size, DWORD* read)
{
    *read = 0;
    if (!m_request)
        return false;
    // A read waits until its whole buffer is filled or the body ends; a
    // server that sends a byte at a time keeps it waiting for ever. Asking
    // first how much has arrived waits only for the next byte, or for the
    // receive timeout, and the read of that much returns at once. 0 bytes
    // available with success is the end of the body. Each wait ends at the
    // reading's bound at the latest.
    const DWORD waitMs = MillisecondsUntil(m_waitBound);
    DWORD error = 0;
    CAsyncRequest::Outcome outcome = CAsyncRequest::Outcome::Done;
    if (m_available == 0)
        outcome = m_request.QueryAvailable(waitMs, &m_available, &error);
    if (outcome == CAsyncRequest::Outcome::Done && m_available > 0)
        outcome = m_request.Read(buffer, std::min(m_available, size), read, waitMs, &error);
    m_stopped = outcome == CAsyncRequest::Outcome::Stopped;
    if (outcome != CAsyncRequest::Outcome::Done)
        return false;
    m_available -= std::min(m_available, *read);
    return true;
}

bool CTransfer::ReadBodyHeaders()
{
    if (!HeaderValues(m_request.Get(), HTTP_QUERY_CONTENT_LENGTH, m_info.contentLengthHeaders))
        return false;
    AnnouncedLength length = ParseContentLength(m_info.contentLengthHeaders);
    m_info.contentLength = length.value;
    m_info.contentLengthMalformed = length.malformed;
    if (!JoinedValues(m_request.Get(), HTTP_QUERY_CONTENT_ENCODING, m_info.contentEncoding) ||
        !JoinedValues(m_request.Get(), HTTP_QUERY_TRANSFER_ENCODING, m_info.transferEncoding))
        return false;
    // What a resumed download is judged by: one that cannot be read whole
    // counts as not sent, and no download goes on by it.
    if (!HeaderValues(m_request.Get(), HTTP_QUERY_ETAG, m_info.etags))
        m_info.etags.clear();
    if (!HeaderValues(m_request.Get(), HTTP_QUERY_CONTENT_RANGE, m_info.contentRanges))
        m_info.contentRanges.clear();
    const std::pair<DWORD, std::string*> single[] = {
        {HTTP_QUERY_LAST_MODIFIED, &m_info.lastModified},
        {HTTP_QUERY_DATE, &m_info.date},
        {HTTP_QUERY_ACCEPT_RANGES, &m_info.acceptRanges},
        {HTTP_QUERY_CONTENT_TYPE, &m_info.contentType},
    };
    for (const auto& [header, text] : single) {
        if (!JoinedValues(m_request.Get(), header, *text))
            text->clear();
    }
    return true;
}

BodyEnd CTransfer::ReadBody(const std::function<bool(const char* data, DWORD size)>& consume,
                            const ReadLimits& limits)
{
    const Clock::time_point start = Clock::now();
    std::vector<char> buffer(kChunkSize);
    auto end = [this, start](BodyEnd how) {
        m_info.bodyTime = Clock::now() - start;
        m_bounds->arrived += m_info.bodyBytes;
        return m_info.bodyEnd = how;
    };
    m_info.bodyBytes = 0;
    // UINT64_MAX: no length to end at.
    const uint64_t length =
        m_info.transferEncoding.empty() && m_info.contentLength ? *m_info.contentLength : UINT64_MAX;
    Clock::time_point handled = start;
    // Without a deadline a wait ends at the receive timeout, and, should the
    // client not end it, after twice that.
    for (;;) {
        if (m_info.bodyBytes >= length)
            return end(BodyEnd::Complete);
        // Checked between reads: each read waits at most for the next byte,
        // or the receive timeout.
        const Clock::time_point now = Clock::now();
        if (limits.deadline && now >= *limits.deadline)
            return end(BodyEnd::TimeUp);
        if (limits.download && !m_bounds->floor.Holds(m_bounds->arrived + m_info.bodyBytes, now - m_bounds->start))
            return end(BodyEnd::TooSlow);
        // While the body flows no read waits, so the messages are handled
        // here too; not at every read, each costs a call to the system.
        if (m_hook && now - handled >= kHandleMessagesEvery) {
            handled = now;
            if (!m_hook->HandleMessages())
                return end(BodyEnd::Stopped);
        }
        m_waitBound = limits.deadline ? *limits.deadline : now + 2 * kReceiveTimeout;
        const auto want = static_cast<DWORD>(std::min<uint64_t>(kChunkSize, length - m_info.bodyBytes));
        DWORD read = 0;
        if (!Read(buffer.data(), want, &read)) {
            if (m_stopped)
                return end(BodyEnd::Stopped);
            if (limits.deadline && Clock::now() >= *limits.deadline)
                return end(BodyEnd::TimeUp);
            return end(BodyEnd::Failed);
        }
        if (read == 0)
            return end(BodyEnd::Complete);
        m_info.bodyBytes += read;
        if (!consume(buffer.data(), read))
            return end(BodyEnd::Stopped);
    }
}
