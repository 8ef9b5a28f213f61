// A request of the HTTP client in its asynchronous mode: the client waits for
// the server on threads of its own, and the calling thread waits for each
// operation with a deadline, so that no server, however slowly it sends its
// head, holds the caller past it.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>

class CAsyncRequest {
public:
    // The Internet handle must have been opened with INTERNET_FLAG_ASYNC;
    // request handles opened under it afterwards report to this class.
    static void Attach(HINTERNET internet);

    CAsyncRequest();
    ~CAsyncRequest();
    CAsyncRequest(const CAsyncRequest&) = delete;
    CAsyncRequest& operator=(const CAsyncRequest&) = delete;

    // Opens a GET request for object on connection, closing any earlier one.
    bool Open(HINTERNET connection, const char* object, DWORD flags);
    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    enum class Outcome {
        Done,
        Failed, // error holds the client's error
        TimeUp, // waitMs passed first: the operation is abandoned with the request
    };
    Outcome Send(DWORD waitMs, DWORD* error);
    // How many bytes of the body the client holds, waiting for at least one
    // (0: the body has ended).
    Outcome QueryAvailable(DWORD waitMs, DWORD* available, DWORD* error);
    // Reads at most size bytes, at most 1024.
    Outcome Read(char* buffer, DWORD size, DWORD* read, DWORD waitMs, DWORD* error);

    // Closes the request; returns once the client is done with it.
    void Close();

private:
    struct Events;
    static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
    // before: the completions counted before the operation began.
    Outcome Finish(unsigned before, BOOL completed, DWORD waitMs, DWORD* error);

    HINTERNET m_handle = nullptr;
    // What the client's callbacks report, and every buffer handed to an
    // operation that may complete later: allocated apart, and freed only
    // once the client has closed the handle.
    std::unique_ptr<Events> m_events;
    bool m_abandoned = false; // an operation's wait ended before it completed
};
