// An HTTP server on 127.0.0.1 whose every answer a test scripts: status,
// headers, a body sent in pieces with pauses, stalls, a connection dropped.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string path;
    std::string userAgent;
    std::string head; // the request line and headers as received
};

// One accepted connection; the handler of the requested path writes to it.
class ScriptConnection {
public:
    using Recorder = std::function<void(const HttpRequest&)>;
    ScriptConnection(SOCKET socket, const std::atomic<bool>& stopping, Recorder record);

    bool Send(std::string_view bytes);
    // Waits, but returns early once the server is stopping.
    void Pause(int milliseconds);
    // Reads the next request sent on this kept-alive connection, which the
    // server records as it records every request; false when none comes.
    bool NextRequest();
    // Closes the connection at once with a reset, as a load balancer whose
    // idle timeout struck does.
    void Reset();
    bool IsOpen() const { return m_socket != INVALID_SOCKET; }

    // A whole response: status line, Content-Length (unless chunked, or
    // overridden), Connection: close, then the body in pieces of pieceSize
    // bytes with pauseMs between them.
    struct Response {
        int status = 200;
        std::string body;
        size_t pieceSize = 0; // 0: all at once
        int pauseMs = 0;
        bool chunked = false;
        std::string contentLength; // when set, sent instead of the body's size
        std::string extraHeaders;  // each ending in \r\n
        bool keepAlive = false;    // no Connection: close: the client may send its next request here
    };
    void Respond(const Response& response);

    // A 200 response whose body is sent in pieces, with pauses between them.
    static Response Pieces(std::string body, size_t pieceSize, int pauseMs = 0, bool chunked = false);

    // The request line and headers, up to the blank line; false when the
    // connection ends first.
    static bool ReadHead(SOCKET socket, std::string& head);
    static HttpRequest Parse(const std::string& head);

private:
    SOCKET m_socket;
    const std::atomic<bool>& m_stopping;
    Recorder m_record;
};

class ScriptServer {
public:
    using Handler = std::function<void(ScriptConnection&, const HttpRequest&)>;

    // Listens on 127.0.0.1 at port, or at a free port when 0.
    explicit ScriptServer(uint16_t port = 0);
    ~ScriptServer();
    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    bool Listening() const { return m_listener != INVALID_SOCKET; }
    uint16_t Port() const { return m_port; }
    // http://127.0.0.1:PORT/game/veltrassa_01/update/
    std::string BaseUrl() const;

    // Paths without a handler are answered 404.
    void On(const std::string& path, Handler handler);
    void OnFile(const std::string& path, std::string body, int status = 200);
    void OnResponse(const std::string& path, ScriptConnection::Response response);

    std::vector<HttpRequest> Requests() const;

    // A port on 127.0.0.1 at which nothing listens.
    static uint16_t ClosedPort();

private:
    void Serve();
    // False when the handler closed the connection itself.
    bool HandleConnection(SOCKET socket);

    SOCKET m_listener = INVALID_SOCKET;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
    std::map<std::string, Handler> m_handlers;
    std::vector<HttpRequest> m_requests;
    std::thread m_thread;
    std::vector<std::thread> m_connections; // touched only by m_thread until it ends
};

inline constexpr char kUpdatePath[] = "/game/veltrassa_01/update/";
