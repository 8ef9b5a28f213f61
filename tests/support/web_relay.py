#!/usr/bin/env python3
"""A relay between the updater and a real web server that drops downloads.

Listens on 127.0.0.1 and passes every request to the server on another port
of 127.0.0.1, reading both ways as HTTP/1.1 so that it sees each request and
answer of a kept-alive connection. A control file, read afresh for every
request, makes it cut answers short: after forwarding a fraction of the body
of the first DROPS answers (status 200 or 206) for one path, it closes the
connection, or resets it, and forwards everything later untouched. It can
also replace a file under the served folder between the drop and the next
request, as a publisher's upload does. The control file is JSON:

  {"id": "any text; a new id starts the count of drops again",
   "path": "/game/veltrassa_01/update/update.exe",
   "fraction": 0.4, "drops": 1, "how": "close" or "reset",
   "replace": "game/veltrassa_01/update/update.exe",
   "with": "game/veltrassa_01/update/other.exe"}

"replace" and "with" are optional and relative to --root; the file is copied
under a temporary name and renamed, so the server never serves half of it.
No control file forwards everything; one that cannot be used is named in the
log and everything is forwarded. The log has one line per event, fields
separated by tabs:

  request <request line>  range=<Range>  if_range=<If-Range>
  response <path>  <status line>  content_length=  content_range=  etag=
                   last_modified=  accept_ranges=
  body <path>  sent=<bytes>  of=<announced length or ->  end=complete|close|reset|cut-by-server
  replaced <path>  size=<bytes>
  control-error <reason>
"""
import argparse
import json
import os
import shutil
import socket
import struct
import sys
import threading
import time

LOOPBACK = "127.0.0.1"
IDLE_SECONDS = 60
HEAD_LIMIT = 65536


class Control:
    """The control file's current orders and how many drops are done."""

    def __init__(self, path, root, log):
        self.path, self.root, self.log = path, root, log
        self.lock = threading.Lock()
        self.current_id = None
        self.dropped = 0

    def _read(self):
        try:
            with open(self.path, encoding="utf-8") as file:
                orders = json.load(file)
        except FileNotFoundError:
            return None
        except (OSError, ValueError) as error:
            self.log.write(f"control-error\tunreadable: {error}")
            return None
        problem = self._problem(orders)
        if problem:
            self.log.write(f"control-error\t{problem}")
            return None
        return orders

    def _problem(self, orders):
        if not isinstance(orders, dict) or not isinstance(orders.get("path"), str):
            return "no path"
        fraction, drops = orders.get("fraction", 0.4), orders.get("drops", 1)
        if not isinstance(fraction, (int, float)) or not 0 <= fraction < 1:
            return f"fraction {fraction!r} is not at least 0 and below 1"
        if not isinstance(drops, int) or drops < 0:
            return f"drops {drops!r} is not a whole number of at least 0"
        if orders.get("how", "close") not in ("close", "reset"):
            return f"how {orders.get('how')!r} is neither close nor reset"
        if ("replace" in orders) != ("with" in orders):
            return "replace and with go together"
        for key in ("replace", "with"):
            if key in orders and self._inside(orders[key]) is None:
                return f"{key} {orders[key]!r} is not a path under the served folder"
        return None

    def _inside(self, relative):
        if not isinstance(relative, str) or not self.root:
            return None
        full = os.path.realpath(os.path.join(self.root, relative))
        return full if os.path.commonpath([self.root, full]) == self.root and full != self.root else None

    def cut_for(self, path):
        """The orders when this answer for path is to be cut, else None."""
        with self.lock:
            orders = self._read()
            if orders is None or orders["path"] != path:
                return None
            if orders.get("id") != self.current_id:
                self.current_id, self.dropped = orders.get("id"), 0
            if self.dropped >= orders.get("drops", 1):
                return None
            self.dropped += 1
            return orders

    def replace(self, orders):
        if "replace" not in orders:
            return
        target, source = self._inside(orders["replace"]), self._inside(orders["with"])
        temporary = target + ".relay-upload"
        shutil.copyfile(source, temporary)
        os.chmod(temporary, 0o644)
        os.replace(temporary, target)
        self.log.write(f"replaced\t{orders['replace']}\tsize={os.path.getsize(target)}")


class Log:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1, encoding="utf-8")
        self.lock = threading.Lock()

    def write(self, line):
        with self.lock:
            self.file.write(line + "\n")


def read_head(reader):
    """The head up to its blank line, as lines without their ends; None at the end of the stream."""
    lines, size = [], 0
    while True:
        line = reader.readline(HEAD_LIMIT)
        if not line:
            return None
        size += len(line)
        if size > HEAD_LIMIT:
            raise ValueError("head too large")
        if line in (b"\r\n", b"\n"):
            return lines
        lines.append(line.rstrip(b"\r\n").decode("latin-1"))


def header(lines, name):
    """The value of the first header of this name, or ""."""
    prefix = name.lower() + ":"
    for line in lines[1:]:
        if line.lower().startswith(prefix):
            return line[len(prefix):].strip()
    return ""


def encode(lines):
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def copy(reader, sock, count):
    """Copies count bytes, or all until the end when count is None; the bytes copied."""
    sent = 0
    while count is None or sent < count:
        data = reader.read1(65536 if count is None else min(65536, count - sent))
        if not data:
            break
        sock.sendall(data)
        sent += len(data)
    return sent


def end_connection(sock, reader, how):
    # The socket closes only once its reader is closed too.
    reader.close()
    if how == "reset":
        # A line that drops after its bytes went over it: the client has read
        # them first, since a reset makes its system discard what it has not.
        time.sleep(0.3)
        # A zero linger time makes close send RST instead of FIN.
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


def serve(client, upstream_port, control, log):
    upstream = from_upstream = None
    from_client = client.makefile("rb")
    try:
        while True:
            request = read_head(from_client)
            if not request:
                return
            method, path = (request[0].split(" ") + ["", ""])[:2]
            log.write(f"request\t{request[0]}\trange={header(request, 'Range')}\t"
                      f"if_range={header(request, 'If-Range')}")
            if upstream is None:
                upstream = socket.create_connection((LOOPBACK, upstream_port), timeout=IDLE_SECONDS)
                from_upstream = upstream.makefile("rb")
            upstream.sendall(encode(request))
            length = header(request, "Content-Length")
            if length.isdigit():
                copy(from_client, upstream, int(length))
            answer = read_head(from_upstream)
            if not answer:
                return
            log.write(f"response\t{path}\t{answer[0]}\tcontent_length={header(answer, 'Content-Length')}\t"
                      f"content_range={header(answer, 'Content-Range')}\tetag={header(answer, 'ETag')}\t"
                      f"last_modified={header(answer, 'Last-Modified')}\t"
                      f"accept_ranges={header(answer, 'Accept-Ranges')}")
            status = answer[0].split(" ")[1] if " " in answer[0] else ""
            announced = header(answer, "Content-Length")
            if method == "HEAD" or status in ("204", "304") or status.startswith("1"):
                body = 0
            elif announced.isdigit() and not header(answer, "Transfer-Encoding"):
                body = int(announced)
            else:
                body = None  # to the end of the connection
            orders = control.cut_for(path) if status in ("200", "206") and body else None
            client.sendall(encode(answer))
            if orders:
                cut = int(body * orders.get("fraction", 0.4))
                sent = copy(from_upstream, client, cut)
                control.replace(orders)
                how = orders.get("how", "close")
                log.write(f"body\t{path}\tsent={sent}\tof={body}\tend={how}")
                end_connection(client, from_client, how)
                return
            sent = copy(from_upstream, client, body)
            whole = body is not None and sent == body
            log.write(f"body\t{path}\tsent={sent}\tof={announced or '-'}\t"
                      f"end={'complete' if whole or body is None else 'cut-by-server'}")
            connection = header(answer, "Connection").lower()
            if not whole or connection == "close" or (answer[0].startswith("HTTP/1.0") and connection != "keep-alive"):
                return
    except (OSError, ValueError) as error:
        log.write(f"connection-error\t{error}")
    finally:
        for stream in (from_upstream, upstream, from_client, client):
            if stream is not None:
                stream.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True,
                        help="port on 127.0.0.1 to listen on; 0 takes a free one, named on stderr")
    parser.add_argument("--upstream-port", type=int, required=True, help="port of the server on 127.0.0.1")
    parser.add_argument("--control", required=True, help="the control file (JSON), read for every request")
    parser.add_argument("--log", required=True, help="file the events are appended to")
    parser.add_argument("--root", help="the folder the server serves, under which files may be replaced")
    parser.add_argument("--lifetime", type=float, default=1800, help="seconds until it ends")
    args = parser.parse_args()
    if not 0 <= args.port < 65536 or not 0 < args.upstream_port < 65536:
        parser.error("a port is not 1 to 65535")
    root = os.path.realpath(args.root) if args.root else None
    if root and not os.path.isdir(root):
        parser.error(f"{args.root} is not a folder")
    log = Log(args.log)
    control = Control(args.control, root, log)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((LOOPBACK, args.port))
    except OSError as error:
        sys.exit(f"web_relay: cannot listen on {LOOPBACK}:{args.port}: {error.strerror}")
    listener.listen(16)
    print(f"web_relay: listening on {LOOPBACK}:{listener.getsockname()[1]}, forwarding to {args.upstream_port}",
          file=sys.stderr, flush=True)

    def accept():
        while True:
            client, _ = listener.accept()
            client.settimeout(IDLE_SECONDS)
            threading.Thread(target=serve, args=(client, args.upstream_port, control, log), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    time.sleep(args.lifetime)


if __name__ == "__main__":
    main()
