#!/usr/bin/env python3
"""HTTPS in front of the tests' scripted HTTP server.

Listens on 127.0.0.1 at one port per test certificate, ends TLS there and
passes the bytes both ways, unchanged, to the plain server on
127.0.0.1:28471. Ends by itself after --lifetime seconds. The benchmarks
choose their own ports and certificate (--upstream-port, --front).
"""
import argparse
import os
import select
import socket
import ssl
import sys
import threading
import time

LOOPBACK = "127.0.0.1"
UPSTREAM_PORT = 28471
# Port and the certificate it presents.
FRONTS = ((28480, "valid"), (28481, "untrusted"), (28482, "wronghost"), (28483, "expired"))
# A connection with no traffic either way for this long is closed.
IDLE_SECONDS = 60


def log(message):
    print(f"tls_proxy: {message}", file=sys.stderr, flush=True)


def listen(port):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    # The next run may start while connections of this one are in TIME_WAIT.
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((LOOPBACK, port))
    except OSError as error:
        listener.close()
        raise SystemExit(f"tls_proxy: cannot listen on {LOOPBACK}:{port}: {error.strerror}")
    listener.listen(16)
    return listener


def relay(client, upstream):
    """Copies bytes both ways until the server ends its side."""
    client_open = True
    while True:
        # Decrypted bytes may wait inside the TLS layer with nothing on the socket.
        ready = [client] if client_open and client.pending() else []
        if not ready:
            watched = [upstream] + ([client] if client_open else [])
            ready, _, _ = select.select(watched, [], [], IDLE_SECONDS)
            if not ready:
                return
        if upstream in ready:
            data = upstream.recv(65536)
            if not data:
                return
            client.sendall(data)
        if client in ready:
            data = client.recv(65536)
            if data:
                upstream.sendall(data)
            else:
                # The client has said all it will; the answer may still come.
                client_open = False
                upstream.shutdown(socket.SHUT_WR)


def end_session(client):
    """Ends the TLS session cleanly, as the server ended its answer."""
    client.settimeout(1)
    try:
        client.unwrap()
    except (ssl.SSLError, OSError):
        pass  # the client had already gone


def serve_connection(context, raw, name, upstream_port):
    try:
        with context.wrap_socket(raw, server_side=True) as client:
            with socket.create_connection((LOOPBACK, upstream_port)) as upstream:
                relay(client, upstream)
                end_session(client)
    except (ssl.SSLError, OSError) as error:
        # Clients refusing the certificate land here; the next one is served.
        log(f"{name}: {error}")
    finally:
        raw.close()


def accept_loop(listener, context, name, upstream_port):
    while True:
        raw, _ = listener.accept()
        raw.settimeout(IDLE_SECONDS)
        threading.Thread(target=serve_connection, args=(context, raw, name, upstream_port), daemon=True).start()


def front(text):
    """PORT:NAME, a port and the certificate it presents."""
    port, _, name = text.partition(":")
    if not port.isdigit() or not 0 < int(port) < 65536 or not name:
        raise argparse.ArgumentTypeError(f"expected PORT:NAME, got {text!r}")
    return int(port), name


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("crypto_dir", help="folder holding NAME.pem and NAME.key")
    parser.add_argument("--ready-file", help="created once every port listens")
    parser.add_argument("--lifetime", type=float, default=1800, help="seconds until it ends")
    parser.add_argument("--upstream-port", type=int, default=UPSTREAM_PORT,
                        help=f"port of the plain server (default {UPSTREAM_PORT})")
    parser.add_argument("--front", type=front, action="append",
                        help="PORT:NAME, instead of the tests' fronts; may be repeated")
    args = parser.parse_args()

    fronts = []
    for port, name in args.front or FRONTS:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        certificate = os.path.join(args.crypto_dir, f"{name}.pem")
        try:
            context.load_cert_chain(certificate, os.path.join(args.crypto_dir, f"{name}.key"))
        except (OSError, ssl.SSLError) as error:
            raise SystemExit(f"tls_proxy: cannot load {certificate} and its key: {error}")
        fronts.append((listen(port), context, name))
    for listener, context, name in fronts:
        threading.Thread(target=accept_loop, args=(listener, context, name, args.upstream_port),
                         daemon=True).start()
    if args.ready_file:
        open(args.ready_file, "w").close()
    ports = ", ".join(str(listener.getsockname()[1]) for listener, _, _ in fronts)
    log(f"listening on {LOOPBACK}:{ports}, forwarding to {args.upstream_port}")
    time.sleep(args.lifetime)
    log("lifetime over, ending")


if __name__ == "__main__":
    main()
