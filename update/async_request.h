// A request of the HTTP client in its asynchronous mode: the client waits for
// the server on threads of its own, and the calling thread waits for each
// operation with a deadline, so that no server, however slowly it sends its
// head, holds the caller past it. With a wait hook the thread handles its
// messages meanwhile.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

class CWaitHook;

class CAsyncRequest {
public:
    // The Internet handle must have been opened with INTERNET_FLAG_ASYNC;
    // request handles opened under it afterwards report to this class.
    static void Attach(HINTERNET internet);

    CAsyncRequest();
    ~CAsyncRequest();
    CAsyncRequest(const CAsyncRequest&) = delete;
    CAsyncRequest& operator=(const CAsyncRequest&) = delete;

    // Opens a GET request for object on connection, closing any earlier one
    // at once. hook, when given, is called whenever messages arrive for the
    // thread during a wait.
    bool Open(HINTERNET connection, const char* object, DWORD flags, CWaitHook* hook);
    HINTERNET Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    enum class Outcome {
        Done,
        Failed,  // error holds the client's error
        TimeUp,  // waitMs passed first: the operation is abandoned with the request
        Stopped, // the hook asked to stop: the operation is abandoned with the request
    };
    // Sends the request with headers (CR LF after each; empty for none).
    Outcome Send(const std::string& headers, DWORD waitMs, DWORD* error);
    // How many bytes of the body the client holds, waiting for at least one
    // (0: the body has ended).
    Outcome QueryAvailable(DWORD waitMs, DWORD* available, DWORD* error);
    // Reads at most size bytes, at most 1024. Ask for no more than
    // QueryAvailable reported: such a read completes at once.
    Outcome Read(char* buffer, DWORD size, DWORD* read, DWORD waitMs, DWORD* error);

    // Closes the request, waiting at most waitMs for the client to let go
    // of it; the client frees what it still uses once it does.
    void Close(DWORD waitMs = 0);

private:
    struct Events;
    static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);
    // before: the completions counted before the operation began.
    Outcome Finish(unsigned before, BOOL completed, DWORD waitMs, DWORD* error);
    // Waits until a completion is counted after before.
    Outcome Wait(unsigned before, DWORD waitMs);

    HINTERNET m_handle = nullptr;
    // What the client's callbacks report, and every buffer handed to an
    // operation that may complete later: allocated apart, and freed by
    // whichever of Close and the handle's closing callback comes last.
    Events* m_events = nullptr;
    CWaitHook* m_hook = nullptr;
};
