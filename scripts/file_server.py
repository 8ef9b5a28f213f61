#!/usr/bin/env python3
"""Local update server of scripts/run and bench/run.

Serves the files under one folder at their paths (ROOT/a/b at /a/b), GET and
HEAD only, on 127.0.0.1 only; anything else gets 404. It answers as a static
web server does: a strong ETag made of the modification time and the size in
hex (as nginx makes it), Last-Modified, Accept-Ranges: bytes, and one byte
range (206 with Content-Range; 416 when it lies beyond the file), under
If-Range only when the validator given is the file's own; several ranges, or
a Range it cannot read, get the whole file. Bodies go out with sendfile, so
that a benchmark measures the client, not this server. Each request is logged
as "METHOD PATH STATUS" for the caller to check; a body cut short is logged
as "200 aborted" (or "206 aborted"). The server ends by itself after --lifetime
seconds, so that a caller killed without cleaning up leaves nothing behind.
"""
import argparse
import email.utils
import http
import http.server
import os
import re
import signal
import sys
import urllib.parse

# Seconds a connection may stay silent, while reading a request or while
# the client takes a body.
CONNECTION_TIMEOUT = 30
SINGLE_RANGE = re.compile(r"bytes=(\d*)-(\d*)")


def byte_range(header, size):
    """The (first, last) bytes a Range header asks of a file of size bytes;
    None for the whole file (no range, one it cannot read, several); "unsatisfiable"
    for one that lies beyond the file."""
    match = SINGLE_RANGE.fullmatch(header.replace(" ", "")) if header else None
    if not match or match.group(1) == match.group(2) == "":
        return None
    first, last = match.groups()
    if first == "":
        suffix = int(last)
        return (max(size - suffix, 0), size - 1) if suffix and size else "unsatisfiable"
    first, last = int(first), int(last) if last else None
    if last is not None and last < first:
        return None
    return (first, size - 1 if last is None else min(last, size - 1)) if first < size else "unsatisfiable"


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder whose files are served")
    parser.add_argument("--port", type=int, required=True,
                        help="port on 127.0.0.1; 0 takes a free one, named in the first line on stderr")
    parser.add_argument("--lifetime", type=int, default=3600,
                        help="seconds after which the server ends (default 3600)")
    parser.add_argument("--log", help="file the requests are appended to (default: stderr)")
    args = parser.parse_args()
    if not 0 <= args.port < 65536:
        parser.error(f"port {args.port} is not 0 to 65535")
    if args.lifetime <= 0:
        parser.error("the lifetime must be a positive number of seconds")
    root = os.path.realpath(args.root)
    if not os.path.isdir(root):
        parser.error(f"{args.root} is not a folder")
    log = open(args.log, "a", buffering=1) if args.log else sys.stderr

    class Handler(http.server.BaseHTTPRequestHandler):
        timeout = CONNECTION_TIMEOUT

        def _find(self):
            path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
            file = os.path.realpath(os.path.join(root, path.lstrip("/")))
            # Nothing outside the folder, whatever the path or a link says.
            if not path.startswith("/") or os.path.commonpath([root, file]) != root:
                return None
            return file if os.path.isfile(file) else None

        def _log(self, status):
            log.write(f"{self.command or '-'} {self.path} {status}\n")

        def _answer(self, with_body):
            file = self._find()
            if file is None:
                self.send_error(http.HTTPStatus.NOT_FOUND)
                return
            with open(file, "rb") as body:
                facts = os.fstat(body.fileno())
                size = facts.st_size
                etag = f'"{int(facts.st_mtime):x}-{size:x}"'
                modified = email.utils.formatdate(int(facts.st_mtime), usegmt=True)
                wanted = byte_range(self.headers.get("Range"), size)
                # A range of another version of the file would splice two.
                if_range = self.headers.get("If-Range")
                if if_range is not None and if_range.strip() not in (etag, modified):
                    wanted = None
                if wanted == "unsatisfiable":
                    self.send_response(http.HTTPStatus.REQUESTED_RANGE_NOT_SATISFIABLE)
                    self.send_header("Content-Range", f"bytes */{size}")
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                first, last = wanted or (0, size - 1)
                status = "206" if wanted else "200"
                self.send_response(http.HTTPStatus.PARTIAL_CONTENT if wanted else http.HTTPStatus.OK)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(last - first + 1))
                if wanted:
                    self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
                self.send_header("ETag", etag)
                self.send_header("Last-Modified", modified)
                self.send_header("Accept-Ranges", "bytes")
                self.end_headers()
                if with_body and last >= first:
                    try:
                        self.connection.sendfile(body, first, last - first + 1)
                    except OSError:
                        status += " aborted"
            self._log(status)

        def do_GET(self):
            self._answer(True)

        def do_HEAD(self):
            self._answer(False)

        def log_request(self, code="-", size="-"):
            # Answers with a body are logged once the body is out (_answer).
            if code not in (http.HTTPStatus.OK, http.HTTPStatus.PARTIAL_CONTENT):
                self._log(int(code))

        def log_message(self, format, *log_args):
            sys.stderr.write(f"file_server: {format % log_args}\n")

    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    except OSError as error:
        sys.exit(f"file_server: cannot listen on 127.0.0.1:{args.port}: {error}")
    server.daemon_threads = True
    # The default action of SIGALRM ends the process, even with a transfer
    # still running.
    signal.alarm(args.lifetime)
    sys.stderr.write(f"file_server: serving {root} at http://127.0.0.1:{server.server_address[1]}/ "
                     f"for {args.lifetime} s\n")
    sys.stderr.flush()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
