#include "transfer.h"

#include <cstring>
#include <vector>

namespace {

constexpr char kAgent[] = "update_harun_tesly";
constexpr DWORD kReceiveTimeoutMs = 5000;
// URLs have always been copied into a 256-byte buffer.
constexpr size_t kMaxUrlLength = 255;
constexpr DWORD kChunkSize = 1024;

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

bool StartsWith(const std::string& text, const char* prefix)
{
    return _strnicmp(text.c_str(), prefix, strlen(prefix)) == 0;
}

bool IsCertificateError(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
        return true;
    default:
        return false;
    }
}

// The address the answer came from: the request's own after any redirect.
std::string RequestUrl(HINTERNET request, const std::string& requested)
{
    char url[INTERNET_MAX_URL_LENGTH] = {};
    DWORD size = sizeof url;
    if (!InternetQueryOptionA(request, INTERNET_OPTION_URL, url, &size))
        return requested;
    return std::string(url, strnlen(url, sizeof url));
}

} // namespace

bool CTransfer::Open(const std::string& url)
{
    m_info = TransferInfo();
    m_info.url = url;
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
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    m_internet.reset(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    SetReceiveTimeout(m_internet.get());
    m_connection.reset(InternetConnectA(m_internet.get(), host, parts.nPort, nullptr, nullptr,
                                        INTERNET_SERVICE_HTTP, 0, 0));
    if (!m_connection)
        return Fail(TransferError::Unreachable, GetLastError());

    // A server that moves to https is followed there, certificate checks and
    // all; without this flag the client may refuse to cross over. The reverse,
    // https to http, is never allowed (see below).
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
    if (secure)
        flags |= INTERNET_FLAG_SECURE;
    std::string object = std::string(path) + extra;
    m_request.reset(HttpOpenRequestA(m_connection.get(), "GET", object.c_str(), nullptr, nullptr,
                                     nullptr, flags, 0));
    if (!m_request)
        return Fail(TransferError::Unreachable, GetLastError());
    // Wine's client does not carry the Internet handle's receive timeout over
    // to requests; set on the request it bounds every wait for the server.
    SetReceiveTimeout(m_request.get());
    if (!HttpSendRequestA(m_request.get(), nullptr, 0, nullptr, 0)) {
        DWORD error = GetLastError();
        if (error == ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR)
            return Fail(TransferError::InsecureRedirect, error);
        return Fail(IsCertificateError(error) ? TransferError::Certificate : TransferError::Unreachable,
                    error);
    }

    m_info.url = RequestUrl(m_request.get(), url);
    // Windows refuses a redirect from https to plain http; Wine's client
    // follows it silently, so the final address is checked here as well.
    if (secure && !StartsWith(m_info.url, "https:"))
        return Fail(TransferError::InsecureRedirect);

    if (!HasHeaderLines(m_request.get()))
        return Fail(TransferError::Unreachable);
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(m_request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr))
        return Fail(TransferError::Unreachable);
    m_info.status = status;
    m_info.contentLength = ContentLength();
    if (status < 200 || status > 299)
        return Fail(TransferError::HttpStatus);
    return true;
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
    return m_request && InternetReadFile(m_request.get(), buffer, size, read);
}

std::optional<uint64_t> CTransfer::ContentLength() const
{
    char text[32] = {};
    DWORD size = sizeof text - 1;
    if (!m_request || !HttpQueryInfoA(m_request.get(), HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr))
        return std::nullopt;
    uint64_t length = 0;
    if (text[0] == '\0')
        return std::nullopt;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || length > UINT64_MAX / 10 - 1)
            return std::nullopt;
        length = length * 10 + static_cast<uint64_t>(*p - '0');
    }
    return length;
}

BodyEnd ReadBody(CTransfer& transfer, const std::function<bool(const char* data, DWORD size)>& consume)
{
    std::vector<char> buffer(kChunkSize);
    for (;;) {
        DWORD read = kChunkSize;
        if (!transfer.Read(buffer.data(), kChunkSize, &read))
            return BodyEnd::Failed;
        if (read == 0)
            return BodyEnd::Complete;
        if (!consume(buffer.data(), read))
            return BodyEnd::Stopped;
    }
}
