#!/usr/bin/env python3
"""Local update server of scripts/run and bench/run.

Serves the files under one folder at their paths (ROOT/a/b at /a/b), GET and
HEAD only, on 127.0.0.1 only; anything else gets 404. Bodies go out with
sendfile, so that a benchmark measures the client, not this server. Each
request is logged as "METHOD PATH STATUS" for the caller to check; a body cut
short is logged as "200 aborted". The server ends by itself after --lifetime
seconds, so that a caller killed without cleaning up leaves nothing behind.
"""
import argparse
import http
import http.server
import os
import signal
import sys
import urllib.parse

# Seconds a connection may stay silent, while reading a request or while
# the client takes a body.
CONNECTION_TIMEOUT = 30


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
            status = "200"
            with open(file, "rb") as body:
                self.send_response(http.HTTPStatus.OK)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(os.fstat(body.fileno()).st_size))
                self.end_headers()
                if with_body:
                    try:
                        self.connection.sendfile(body)
                    except OSError:
                        status = "200 aborted"
            self._log(status)

        def do_GET(self):
            self._answer(True)

        def do_HEAD(self):
            self._answer(False)

        def log_request(self, code="-", size="-"):
            # Answers with a body are logged once the body is out (_answer).
            if code != http.HTTPStatus.OK:
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
