// One GET from the update server, with the transfer settings every request of
// the updater uses.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "async_request.h"
#include "transfer_bounds.h"
#include "wait_hook.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "transfer_facts.h"

struct InternetHandleCloser {
    void operator()(HINTERNET handle) const noexcept { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleCloser>;

// The cache settings of every request: the answer always comes from the
// server, and no copy of it is written into the user's Internet cache, where
// it would never be read again (a second copy of every package on the
// player's disk).
constexpr DWORD kTransferCacheFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// The clock of the transfers' bounds: GetTickCount64, in milliseconds. The
// standard steady clock would bring 64-bit division and gettimeofday into
// the 32-bit program, for a finer time than any bound needs.
struct TransferClock {
    using duration = std::chrono::milliseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<TransferClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept { return time_point(duration(static_cast<rep>(GetTickCount64()))); }
};

// As many redirects as a moved server plausibly chains; a loop ends here.
inline constexpr int kMaxRedirects = 10;

// What one transfer may spend, or one download over all its requests (the
// signature's, the package's and those that resume it): a progress floor
// from its first request on, the redirects, and the one request sent again
// after a connection dropped before any byte of its answer.
struct TransferBounds {
    TransferBounds();
    TransferClock::time_point start; // of the first request
    CProgressFloor floor;
    uint64_t arrived = 0; // body bytes of the requests read to their end so far
    int redirectsLeft = kMaxRedirects;
    bool retryLeft = true;
};

// The bounds of the reading of one body.
struct ReadLimits {
    std::optional<TransferClock::time_point> deadline; // no read begins after it
    // Downloads: end one that stops making progress, counting from the first
    // request these bounds saw; nullptr: the transfer's own, without a floor.
    TransferBounds* download = nullptr;
};

// Owns the Internet, connection and request handles of one transfer; all of
// them are closed when the transfer goes out of scope, on every path.
class CTransfer {
public:
    // hook, when given, handles the thread's messages while the transfer
    // waits, and every few tens of milliseconds while the body flows; when
    // it asks to stop, the transfer ends as Stopped.
    explicit CTransfer(CWaitHook* hook = nullptr) : m_hook(hook) {}

    // Sends the request. False when the URL is longer than 255 characters or
    // not an HTTP URL, the server cannot be reached or does not answer in
    // time, its certificate is rejected, it redirects from https to plain
    // http or more than 10 times, it answers with a status other than 2xx, or
    // a header of its answer cannot be read whole, or limits end it between
    // two requests: every redirect and every wait counts against the same
    // deadline and progress floor as the body (TimeUp, TooSlow), or the wait
    // hook asks to stop (Stopped).
    // headers, when given, go with every request (CR LF after each).
    bool Open(const std::string& url, const ReadLimits& limits = {}, const std::string& headers = {});

    const TransferInfo& Info() const { return m_info; }

    // Reads what has arrived of the body, at most size bytes, once at least
    // one byte has (or the body has ended). False when the read fails or
    // times out; a successful read of 0 bytes marks the end of the body.
    bool Read(char* buffer, DWORD size, DWORD* read);

    using Clock = TransferClock;
    // Reads the body in chunks of at most 1024 bytes and hands each chunk,
    // exactly as read, to consume, which returns false to stop. Records how
    // it ended in Info(). The progress floor counts from the first request
    // its bounds saw.
    // A body with a Content-Length (and no Transfer-Encoding, which
    // overrides it) ends there: what follows on the connection is no part of
    // the answer, though the client may hand it over.
    BodyEnd ReadBody(const std::function<bool(const char* data, DWORD size)>& consume, const ReadLimits& limits = {});

private:
    // When the head of an answer must have arrived, and the error if not.
    struct HeadBound {
        Clock::time_point at;
        TransferError error;
    };
    // Opens the connection and sends the request for one address, without
    // following a redirect.
    bool Send(const std::string& url, const std::string& headers, const HeadBound& headBound);
    bool Fail(TransferError error, DWORD systemError = 0);
    // Takes the length and encodings of the body from the answer's head;
    // false when one of them cannot be read whole.
    bool ReadBodyHeaders();
    // How long closing a request may wait for the client: what is left of
    // the bound of the transfer's current wait.
    DWORD ClosingWaitMs() const;

    CWaitHook* m_hook;
    TransferInfo m_info;
    // Closed in reverse order: request, connection, Internet handle.
    InternetHandle m_internet;
    InternetHandle m_connection;
    CAsyncRequest m_request;
    DWORD m_available = 0; // bytes the client holds that are not read yet
    // The bound of the wait under way: for the head in Open, for each read
    // in ReadBody; closing a request waits no longer either.
    Clock::time_point m_waitBound;
    bool m_stopped = false; // the hook asked to stop
    TransferBounds m_ownBounds;
    TransferBounds* m_bounds = &m_ownBounds; // the download's, or m_ownBounds
};
