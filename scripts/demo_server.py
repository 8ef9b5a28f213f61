#!/usr/bin/env python3
"""Local update server for scripts/run.

Serves the files of one folder under the path of the updater's base URL,
on 127.0.0.1 only, and logs each request to stderr. Anything else gets 404.
"""
import argparse
import http.server
import os
import sys
import urllib.parse


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--url", required=True,
                        help="the updater's base URL, http://127.0.0.1:PORT/.../")
    parser.add_argument("--dir", required=True, help="folder whose files are served")
    args = parser.parse_args()

    url = urllib.parse.urlsplit(args.url)
    # The demo must never listen beyond this machine.
    if url.scheme != "http" or url.hostname != "127.0.0.1" or not url.port:
        sys.exit(f"demo_server: base URL must be http://127.0.0.1:PORT/..., got {args.url}")
    prefix = url.path
    folder = os.path.abspath(args.dir)
    files = {name: os.path.join(folder, name) for name in os.listdir(folder)
             if os.path.isfile(os.path.join(folder, name))}

    class Handler(http.server.BaseHTTPRequestHandler):
        def _find(self):
            path = urllib.parse.urlsplit(self.path).path
            if not path.startswith(prefix):
                return None
            return files.get(path[len(prefix):])

        def _answer(self, with_body):
            file = self._find()
            if file is None:
                self.send_error(404)
                return
            with open(file, "rb") as f:
                body = f.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if with_body:
                self.wfile.write(body)

        def do_GET(self):
            self._answer(True)

        def do_HEAD(self):
            self._answer(False)

        def log_message(self, format, *log_args):
            sys.stderr.write("demo_server: " + (format % log_args) + "\n")
            sys.stderr.flush()

    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", url.port), Handler)
    except OSError as error:
        sys.exit(f"demo_server: cannot listen on 127.0.0.1:{url.port}: {error}")
    sys.stderr.write(f"demo_server: serving {', '.join(sorted(files))} at {args.url}\n")
    sys.stderr.flush()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
