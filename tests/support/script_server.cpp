#include "script_server.h"

#include <ws2tcpip.h>

#include <chrono>

namespace {

struct WinsockStartup {
    WinsockStartup()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockStartup() { WSACleanup(); }
};

void EnsureWinsock()
{
    static WinsockStartup startup;
}

SOCKET ListenOnLoopback(uint16_t port, uint16_t* boundPort)
{
    EnsureWinsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return s;
    if (port != 0) {
        // A fixed port must be free again at once for the next test.
        BOOL reuse = TRUE;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(s, 8) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    *boundPort = ntohs(address.sin_port);
    return s;
}

std::string HeaderValue(const std::string& head, const std::string& name)
{
    size_t line = 0;
    while ((line = head.find("\r\n", line)) != std::string::npos) {
        line += 2;
        if (head.size() - line > name.size() &&
            _strnicmp(head.c_str() + line, name.c_str(), name.size()) == 0 &&
            head[line + name.size()] == ':') {
            size_t start = head.find_first_not_of(' ', line + name.size() + 1);
            size_t end = head.find("\r\n", line);
            return start < end ? head.substr(start, end - start) : std::string();
        }
    }
    return {};
}

const char* ReasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

ScriptConnection::ScriptConnection(SOCKET socket, const std::atomic<bool>& stopping, Recorder record)
    : m_socket(socket), m_stopping(stopping), m_record(std::move(record))
{
}

bool ScriptConnection::ReadHead(SOCKET socket, std::string& head)
{
    head.clear();
    char buffer[1];
    // A byte at a time: what follows the head belongs to the next request.
    while (head.size() < 65536 && (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0)) {
        if (recv(socket, buffer, 1, 0) != 1)
            return false;
        head += buffer[0];
    }
    if (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0)
        return false;
    head.resize(head.size() - 2);
    return true;
}

HttpRequest ScriptConnection::Parse(const std::string& head)
{
    HttpRequest request;
    request.head = head;
    size_t space = head.find(' ');
    size_t space2 = head.find(' ', space + 1);
    request.method = head.substr(0, space);
    request.path = head.substr(space + 1, space2 - space - 1);
    request.userAgent = HeaderValue(head, "User-Agent");
    return request;
}

bool ScriptConnection::NextRequest()
{
    std::string head;
    if (!ReadHead(m_socket, head))
        return false;
    m_record(Parse(head));
    return true;
}

void ScriptConnection::Reset()
{
    linger reset = {1, 0};
    setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

bool ScriptConnection::Send(std::string_view bytes)
{
    while (!bytes.empty()) {
        int sent = send(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0);
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

void ScriptConnection::Pause(int milliseconds)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!m_stopping && std::chrono::steady_clock::now() < until)
        Sleep(10);
}

ScriptConnection::Response ScriptConnection::Pieces(std::string body, size_t pieceSize, int pauseMs,
                                                    bool chunked)
{
    Response response;
    response.body = std::move(body);
    response.pieceSize = pieceSize;
    response.pauseMs = pauseMs;
    response.chunked = chunked;
    return response;
}

void ScriptConnection::Respond(const Response& response)
{
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       ReasonPhrase(response.status) + "\r\n";
    if (response.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!response.contentLength.empty())
        head += "Content-Length: " + response.contentLength + "\r\n";
    else
        head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += (response.keepAlive ? "" : "Connection: close\r\n") + response.extraHeaders + "\r\n";
    if (!Send(head))
        return;

    size_t piece = response.pieceSize ? response.pieceSize : response.body.size();
    for (size_t at = 0; at < response.body.size(); at += piece) {
        if (at > 0 && response.pauseMs > 0)
            Pause(response.pauseMs);
        std::string_view part = std::string_view(response.body).substr(at, piece);
        if (response.chunked) {
            char size[16];
            snprintf(size, sizeof size, "%zx\r\n", part.size());
            if (!Send(size) || !Send(part) || !Send("\r\n"))
                return;
        } else if (!Send(part)) {
            return;
        }
    }
    if (response.chunked)
        Send("0\r\n\r\n");
}

ScriptServer::ScriptServer(uint16_t port)
{
    m_listener = ListenOnLoopback(port, &m_port);
    if (Listening())
        m_thread = std::thread([this] { Serve(); });
}

ScriptServer::~ScriptServer()
{
    m_stopping = true;
    if (Listening())
        closesocket(m_listener);
    if (m_thread.joinable())
        m_thread.join();
    for (std::thread& connection : m_connections)
        connection.join();
}

std::string ScriptServer::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + kUpdatePath;
}

void ScriptServer::On(const std::string& path, Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlers[path] = std::move(handler);
}

void ScriptServer::OnFile(const std::string& path, std::string body, int status)
{
    ScriptConnection::Response response;
    response.status = status;
    response.body = std::move(body);
    OnResponse(path, std::move(response));
}

void ScriptServer::OnResponse(const std::string& path, ScriptConnection::Response response)
{
    On(path, [response = std::move(response)](ScriptConnection& connection, const HttpRequest&) {
        connection.Respond(response);
    });
}

std::vector<HttpRequest> ScriptServer::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

uint16_t ScriptServer::ClosedPort()
{
    uint16_t port = 0;
    SOCKET s = ListenOnLoopback(0, &port);
    closesocket(s);
    return port;
}

void ScriptServer::Serve()
{
    while (!m_stopping) {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            break;
        // Each connection is answered while the next is accepted: two
        // programs may fetch at the same time.
        m_connections.emplace_back([this, client] {
            if (HandleConnection(client)) {
                shutdown(client, SD_SEND);
                closesocket(client);
            }
        });
    }
}

bool ScriptServer::HandleConnection(SOCKET socket)
{
    DWORD timeoutMs = 10000;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
               sizeof timeoutMs);
    std::string head;
    if (!ScriptConnection::ReadHead(socket, head))
        return true;
    HttpRequest request = ScriptConnection::Parse(head);

    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
        auto found = m_handlers.find(request.path);
        if (found != m_handlers.end())
            handler = found->second;
    }
    ScriptConnection connection(socket, m_stopping, [this](const HttpRequest& next) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(next);
    });
    if (handler) {
        handler(connection, request);
    } else {
        ScriptConnection::Response notFound;
        notFound.status = 404;
        notFound.body = "<html><body>404 Not Found</body></html>";
        connection.Respond(notFound);
    }
    return connection.IsOpen();
}
