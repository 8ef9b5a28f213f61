#include "async_request.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

struct EventCloser {
    void operator()(HANDLE event) const noexcept { CloseHandle(event); }
};
using EventHandle = std::unique_ptr<void, EventCloser>;

constexpr DWORD kBufferSize = 1024;
// How long Close waits for the client to let go of a request with no
// operation pending; should it not, the events are left allocated rather than
// freed under a late callback.
constexpr DWORD kClosingWaitMs = 10000;

} // namespace

struct CAsyncRequest::Events {
    EventHandle completed{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    EventHandle closed{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    // Counted after succeeded and error are written. An operation that
    // completes at once may still report its completion; a wait takes only
    // a completion counted after its operation began. Counting, rather than
    // resetting the event before each operation, keeps a kernel call out of
    // every read: under Wine each is a round trip to the wine server, and a
    // download makes one read a kilobyte.
    std::atomic<unsigned> completions{0};
    bool succeeded = false;
    DWORD error = ERROR_SUCCESS;
    DWORD available = 0;
    DWORD read = 0;
    char buffer[kBufferSize] = {};
};

CAsyncRequest::CAsyncRequest() = default;

CAsyncRequest::~CAsyncRequest()
{
    Close();
}

void CAsyncRequest::Attach(HINTERNET internet)
{
    InternetSetStatusCallbackA(internet, OnStatus);
}

// Called on the client's threads. Only request handles carry a context.
// HANDLE_CLOSING is the last call for a handle on Windows and under Wine,
// whose client sends it when the last reference to the handle, its own
// pending work's included, is released.
void CALLBACK CAsyncRequest::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD)
{
    auto* events = reinterpret_cast<Events*>(context);
    if (!events)
        return;
    if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        events->succeeded = result && result->dwResult != 0;
        events->error = result ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR;
        events->completions.fetch_add(1, std::memory_order_release);
        SetEvent(events->completed.get());
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        SetEvent(events->closed.get());
    }
}

bool CAsyncRequest::Open(HINTERNET connection, const char* object, DWORD flags)
{
    Close();
    m_events = std::make_unique<Events>();
    if (!m_events->completed || !m_events->closed)
        return false;
    m_handle = HttpOpenRequestA(connection, "GET", object, nullptr, nullptr, nullptr, flags,
                                reinterpret_cast<DWORD_PTR>(m_events.get()));
    return m_handle != nullptr;
}

CAsyncRequest::Outcome CAsyncRequest::Finish(unsigned before, BOOL completed, DWORD waitMs, DWORD* error)
{
    if (completed)
        return Outcome::Done;
    *error = GetLastError();
    if (*error != ERROR_IO_PENDING)
        return Outcome::Failed;
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    while (m_events->completions.load(std::memory_order_acquire) == before) {
        const ULONGLONG now = GetTickCount64();
        const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        if (WaitForSingleObject(m_events->completed.get(), left) != WAIT_OBJECT_0) {
            m_abandoned = true;
            return Outcome::TimeUp;
        }
    }
    *error = m_events->error;
    return m_events->succeeded ? Outcome::Done : Outcome::Failed;
}

CAsyncRequest::Outcome CAsyncRequest::Send(DWORD waitMs, DWORD* error)
{
    const unsigned before = m_events->completions.load(std::memory_order_acquire);
    return Finish(before, HttpSendRequestA(m_handle, nullptr, 0, nullptr, 0), waitMs, error);
}

CAsyncRequest::Outcome CAsyncRequest::QueryAvailable(DWORD waitMs, DWORD* available, DWORD* error)
{
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        const unsigned before = m_events->completions.load(std::memory_order_acquire);
        BOOL held = InternetQueryDataAvailable(m_handle, &m_events->available, 0, 0);
        if (held) {
            *available = m_events->available;
            return Outcome::Done;
        }
        const ULONGLONG now = GetTickCount64();
        Outcome outcome = Finish(before, FALSE, now < deadline ? static_cast<DWORD>(deadline - now) : 0, error);
        if (outcome != Outcome::Done)
            return outcome;
        // Completed later: the count is asked again, and is now at hand.
    }
}

CAsyncRequest::Outcome CAsyncRequest::Read(char* buffer, DWORD size, DWORD* read, DWORD waitMs, DWORD* error)
{
    *read = 0;
    const unsigned before = m_events->completions.load(std::memory_order_acquire);
    m_events->read = 0;
    Outcome outcome = Finish(before,
                             InternetReadFile(m_handle, m_events->buffer, std::min(size, kBufferSize),
                                              &m_events->read),
                             waitMs, error);
    if (outcome == Outcome::Done) {
        *read = std::min(m_events->read, std::min(size, kBufferSize));
        std::memcpy(buffer, m_events->buffer, *read);
    }
    return outcome;
}

void CAsyncRequest::Close()
{
    if (!m_handle)
        return;
    InternetCloseHandle(m_handle);
    m_handle = nullptr;
    // An abandoned operation may go on: Wine's client goes on reading a
    // dripping head after the handle is closed, and calls back, the handle
    // closing last, only once it is done. Its events are then left to it,
    // never freed: a few hundred bytes for each transfer a bound ended.
    const DWORD waitMs = m_abandoned ? 0 : kClosingWaitMs;
    m_abandoned = false;
    if (WaitForSingleObject(m_events->closed.get(), waitMs) != WAIT_OBJECT_0)
        static_cast<void>(m_events.release());
    m_events.reset();
}
