/* The benchmarks' update server: a native Linux program, so that under Wine
 * only the client side is measured. Static files from one folder, GET only,
 * 127.0.0.1 only, one child process per connection, bodies sent with
 * sendfile. Each request is logged as "PATH STATUS" for the caller to check.
 * It ends by itself after LIFETIME seconds.
 *
 *   bench_http_server ROOT PORT LIFETIME LOG
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

enum { kMaxHead = 8192, kConnectionSeconds = 120 };

static int send_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return -1;
        data += sent;
        size -= (size_t)sent;
    }
    return 0;
}

static void log_request(int log, const char *path, int status)
{
    char line[600];
    int n = snprintf(line, sizeof line, "%.512s %d\n", path, status);
    if (n > 0 && write(log, line, (size_t)n) < 0) {
        /* The log is a check for the caller, not worth failing a response. */
    }
}

static void serve(int client, const char *root, int log)
{
    struct timeval timeout = {10, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    char head[kMaxHead + 1];
    size_t have = 0;
    while (have < kMaxHead) {
        ssize_t got = recv(client, head + have, kMaxHead - have, 0);
        if (got <= 0)
            return;
        have += (size_t)got;
        head[have] = '\0';
        if (strstr(head, "\r\n\r\n"))
            break;
    }
    if (!strstr(head, "\r\n\r\n"))
        return;

    char method[16], target[1024];
    if (sscanf(head, "%15s %1023s", method, target) != 2)
        return;
    target[strcspn(target, "?#")] = '\0';
    int get = strcmp(method, "GET") == 0;

    int file = -1;
    struct stat info;
    if (get && target[0] == '/' && !strstr(target, "..")) {
        char path[2048];
        snprintf(path, sizeof path, "%s%s", root, target);
        file = open(path, O_RDONLY);
        if (file >= 0 && (fstat(file, &info) != 0 || !S_ISREG(info.st_mode))) {
            close(file);
            file = -1;
        }
    }

    char reply[256];
    if (file < 0) {
        static const char body[] = "not found\n";
        int n = snprintf(reply, sizeof reply,
                         "HTTP/1.1 %s\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n"
                         "Connection: close\r\n\r\n%s",
                         get ? "404 Not Found" : "405 Method Not Allowed", sizeof body - 1, body);
        send_all(client, reply, (size_t)n);
        log_request(log, target, get ? 404 : 405);
        return;
    }

    int n = snprintf(reply, sizeof reply,
                     "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: %lld\r\n"
                     "Connection: close\r\n\r\n",
                     (long long)info.st_size);
    int status = 200;
    if (send_all(client, reply, (size_t)n) != 0)
        status = -1;
    off_t offset = 0;
    while (status == 200 && offset < info.st_size) {
        ssize_t sent = sendfile(client, file, &offset, (size_t)(info.st_size - offset));
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            status = -1;
    }
    close(file);
    log_request(log, target, status);
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: %s ROOT PORT LIFETIME LOG\n", argv[0]);
        return 2;
    }
    const char *root = argv[1];
    int port = atoi(argv[2]);
    int lifetime = atoi(argv[3]);
    if (port <= 0 || port > 65535 || lifetime <= 0) {
        fprintf(stderr, "%s: bad port or lifetime\n", argv[0]);
        return 2;
    }
    int log = open(argv[4], O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (log < 0) {
        perror(argv[4]);
        return 1;
    }

    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (struct sockaddr *)&address, sizeof address) != 0 || listen(listener, 16) != 0) {
        perror("bind/listen");
        return 1;
    }

    signal(SIGCHLD, SIG_IGN); /* children are reaped without waiting */
    alarm((unsigned)lifetime);
    for (;;) {
        int client = accept(listener, NULL, NULL);
        if (client < 0) {
            if (errno == EINTR)
                continue;
            perror("accept");
            return 1;
        }
        pid_t child = fork();
        if (child == 0) {
            close(listener);
            alarm(kConnectionSeconds);
            serve(client, root, log);
            shutdown(client, SHUT_WR);
            close(client);
            _exit(0);
        }
        close(client);
    }
}
