#include "async_request.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "wait_hook.h"

namespace {

struct EventCloser {
    void operator()(HANDLE event) const noexcept { CloseHandle(event); }
};
using EventHandle = std::unique_ptr<void, EventCloser>;

constexpr DWORD kBufferSize = 1024;

// Who frees a request's events: Close and the handle's closing callback each
// swap in their mark, and the one that finds the other's frees them.
enum class Owner { Both, ClosedByClient, LeftByCaller };

DWORD Left(ULONGLONG deadline)
{
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

} // namespace

struct CAsyncRequest::Events {
    EventHandle completed{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    EventHandle closed{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<Owner> owner{Owner::Both};
    // Counted after succeeded and error are written; a wait takes only a
    // completion counted after its operation began. Counting, rather than
    // resetting the event before each operation, keeps a kernel call out of
    // every read: under Wine each is a round trip to the wine server, and a
    // download makes one read a kilobyte.
    std::atomic<unsigned> completions{0};
    bool succeeded = false;
    DWORD error = ERROR_SUCCESS;
    DWORD available = 0;
    INTERNET_BUFFERSA read = {};
    char buffer[kBufferSize] = {};
    std::string headers; // of the request, for as long as the client may read them
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

// Called on the client's threads, or within a call of this thread. Only
// request handles carry a context. HANDLE_CLOSING is the last call for a
// handle, on Windows and under Wine, whose client sends it once the last
// reference to the handle, its own pending work's included, is released.
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
        // Nothing of events is touched after the swap but by its last owner.
        if (events->owner.exchange(Owner::ClosedByClient) == Owner::LeftByCaller)
            delete events;
    }
}

bool CAsyncRequest::Open(HINTERNET connection, const char* object, DWORD flags, CWaitHook* hook)
{
    Close();
    m_hook = hook;
    auto events = std::make_unique<Events>();
    if (!events->completed || !events->closed)
        return false;
    m_handle = HttpOpenRequestA(connection, "GET", object, nullptr, nullptr, nullptr, flags,
                                reinterpret_cast<DWORD_PTR>(events.get()));
    if (m_handle)
        m_events = events.release();
    return m_handle != nullptr;
}

CAsyncRequest::Outcome CAsyncRequest::Wait(unsigned before, DWORD waitMs)
{
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    HANDLE completed = m_events->completed.get();
    while (m_events->completions.load(std::memory_order_acquire) == before) {
        // MWMO_INPUTAVAILABLE: input already seen by an earlier peek, but
        // left in the queue, wakes the wait too.
        const DWORD woke = m_hook ? MsgWaitForMultipleObjectsEx(1, &completed, Left(deadline), QS_ALLINPUT,
                                                                MWMO_INPUTAVAILABLE)
                                  : WaitForSingleObject(completed, Left(deadline));
        if (woke == WAIT_OBJECT_0)
            continue;
        if (m_hook && woke == WAIT_OBJECT_0 + 1) {
            if (!m_hook->HandleMessages())
                return Outcome::Stopped;
            continue;
        }
        return Outcome::TimeUp;
    }
    return m_events->succeeded ? Outcome::Done : Outcome::Failed;
}

CAsyncRequest::Outcome CAsyncRequest::Finish(unsigned before, BOOL completed, DWORD waitMs, DWORD* error)
{
    if (completed)
        return Outcome::Done;
    *error = GetLastError();
    if (*error != ERROR_IO_PENDING)
        return Outcome::Failed;
    Outcome outcome = Wait(before, waitMs);
    *error = m_events->error;
    return outcome;
}

CAsyncRequest::Outcome CAsyncRequest::Send(const std::string& headers, DWORD waitMs, DWORD* error)
{
    const unsigned before = m_events->completions.load(std::memory_order_acquire);
    m_events->headers = headers;
    const char* text = m_events->headers.empty() ? nullptr : m_events->headers.c_str();
    return Finish(before, HttpSendRequestA(m_handle, text, static_cast<DWORD>(m_events->headers.size()), nullptr, 0),
                  waitMs, error);
}

// Windows reports a completion only for an operation that went pending. A
// completion that came after an operation which had completed at once (not
// seen under Wine either, traced with WINEDEBUG=+wininet) can end only
// the wait of a query, which then asks again: a count is only ever taken
// from a call that returned it.
CAsyncRequest::Outcome CAsyncRequest::QueryAvailable(DWORD waitMs, DWORD* available, DWORD* error)
{
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        const unsigned before = m_events->completions.load(std::memory_order_acquire);
        if (InternetQueryDataAvailable(m_handle, &m_events->available, 0, 0)) {
            *available = m_events->available;
            return Outcome::Done;
        }
        Outcome outcome = Finish(before, FALSE, Left(deadline), error);
        if (outcome != Outcome::Done)
            return outcome;
    }
}

CAsyncRequest::Outcome CAsyncRequest::Read(char* buffer, DWORD size, DWORD* read, DWORD waitMs, DWORD* error)
{
    *read = 0;
    const unsigned before = m_events->completions.load(std::memory_order_acquire);
    INTERNET_BUFFERSA& request = m_events->read;
    request = INTERNET_BUFFERSA{};
    request.dwStructSize = sizeof request;
    request.lpvBuffer = m_events->buffer;
    request.dwBufferLength = std::min(size, kBufferSize);
    // InternetReadFileEx, not InternetReadFile: should the read go pending
    // after all, its buffer length is where the documented count arrives.
    Outcome outcome = Finish(before, InternetReadFileExA(m_handle, &request, 0, 0), waitMs, error);
    if (outcome == Outcome::Done) {
        *read = std::min(request.dwBufferLength, std::min(size, kBufferSize));
        std::memcpy(buffer, m_events->buffer, *read);
    }
    return outcome;
}

void CAsyncRequest::Close(DWORD waitMs)
{
    if (!m_handle)
        return;
    InternetCloseHandle(m_handle);
    m_handle = nullptr;
    // An abandoned operation may go on: Wine's client goes on reading a
    // dripping head after the handle is closed, and calls back, the handle
    // closing last, only once it is done; the events are then its to free.
    WaitForSingleObject(m_events->closed.get(), waitMs);
    if (m_events->owner.exchange(Owner::LeftByCaller) == Owner::ClosedByClient)
        delete m_events;
    m_events = nullptr;
}
