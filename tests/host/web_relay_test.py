#!/usr/bin/env python3
"""The tests' relay in front of a web server: forwards untouched, cuts the
answers its control file names at a fraction of their body by a close or a
reset, replaces a file between the drop and the next request, logs every
request and answer, and forwards untouched whatever control it cannot use.
Usage: web_relay_test.py PATH/TO/web_relay.py PATH/TO/file_server.py"""
import http.client
import json
import pathlib
import re
import socket
import subprocess
import sys
import tempfile
import time
import unittest

RELAY = SERVER = None
PATH = "/update/update.exe"


def started(test, command, pattern):
    process = subprocess.Popen(command, stderr=subprocess.PIPE, text=True)
    for cleanup in (process.stderr.close, process.wait, process.kill):
        test.addCleanup(cleanup)
    match = re.search(pattern, process.stderr.readline())
    test.assertTrue(match, f"{command[1]} named no port")
    return int(match.group(1))


def fetch(port, headers=(), path=PATH):
    """The head, the body bytes that came, and how the connection ended."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        request = f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        sock.sendall((request + "".join(f"{h}\r\n" for h in headers) + "\r\n").encode())
        data, end = b"", "close"
        try:
            while chunk := sock.recv(65536):
                data += chunk
        except ConnectionResetError:
            end = "reset"
    head, _, body = data.partition(b"\r\n\r\n")
    return head.decode(), body, end


class WebRelayTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        top = pathlib.Path(folder.name)
        self.root, self.control, self.log = top / "root", top / "relay.control", top / "relay.log"
        (self.root / "update").mkdir(parents=True)
        self.package = bytes(range(256)) * 400
        (self.root / "update" / "update.exe").write_bytes(self.package)
        (self.root / "update" / "next.exe").write_bytes(b"MZ next" * 5000)
        (self.root / "update" / "version.dat").write_bytes(b"version=1,5;")
        upstream = started(self, [sys.executable, SERVER, "--root", self.root, "--port", "0",
                                  "--log", top / "server.log"], r"127\.0\.0\.1:(\d+)/")
        self.port = started(self, [sys.executable, RELAY, "--port", "0", "--upstream-port", str(upstream),
                                   "--control", self.control, "--log", self.log, "--root", self.root],
                            r"listening on 127\.0\.0\.1:(\d+)")

    def order(self, **orders):
        self.control.write_text(json.dumps({"id": f"{self.id()} {orders}", "path": PATH, **orders}))

    def events(self, count):
        deadline = time.monotonic() + 5
        while len(lines := self.log.read_text().splitlines()) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return lines

    def test_forwards_untouched_without_orders(self):
        for control in (None, json.dumps({"id": "x", "path": "/update/other.exe"})):
            with self.subTest(control=control):
                if control:
                    self.control.write_text(control)
                head, body, _ = fetch(self.port)
                self.assertTrue(head.startswith("HTTP/1.0 200 "), head)
                self.assertEqual(body, self.package)

    def test_cuts_the_first_answers_then_forwards_untouched(self):
        size = len(self.package)
        # drops, how, fraction: each cut answer brings that fraction of its own body.
        for drops, how, fraction in ((1, "close", 0.4), (3, "reset", 0.4), (2, "close", 0.0)):
            with self.subTest(drops=drops, how=how, fraction=fraction):
                self.log.write_text("")
                self.order(fraction=fraction, drops=drops, how=how)
                had = b""
                for _ in range(drops):
                    headers = [f"Range: bytes={len(had)}-"] if had else []
                    head, body, end = fetch(self.port, headers)
                    self.assertEqual(end, how)
                    rest = size - len(had)
                    self.assertLessEqual(len(body), int(rest * fraction))
                    if how == "close":
                        self.assertEqual(len(body), int(rest * fraction))
                    self.assertEqual(body, self.package[len(had):len(had) + len(body)])
                    had += body
                head, body, end = fetch(self.port, [f"Range: bytes={len(had)}-"])
                self.assertEqual(had + body, self.package)
                lines = self.events(3 * (drops + 1))
                cuts = [line for line in lines if line.startswith("body\t") and f"end={how}" in line]
                self.assertEqual(len(cuts), drops, lines)
                self.assertTrue(lines[-1].startswith(f"body\t{PATH}\tsent={size - len(had)}\t"), lines)
                self.assertTrue(lines[-1].endswith("end=complete"), lines)

    def test_logs_requests_and_answers(self):
        self.order(drops=1)
        fetch(self.port)
        _, _, _ = fetch(self.port, ["Range: bytes=100-", 'If-Range: "abc"'])
        lines = self.events(6)
        fields = [line.split("\t") for line in lines]
        self.assertEqual(fields[0], ["request", f"GET {PATH} HTTP/1.1", "range=", "if_range="])
        self.assertEqual(fields[1][:3], ["response", PATH, "HTTP/1.0 200 OK"])
        self.assertIn(f"content_length={len(self.package)}", fields[1])
        self.assertIn("accept_ranges=bytes", fields[1])
        self.assertTrue(any(f.startswith('etag="') for f in fields[1]), fields[1])
        self.assertEqual(fields[2], ["body", PATH, f"sent={int(len(self.package) * 0.4)}",
                                     f"of={len(self.package)}", "end=close"])
        self.assertEqual(fields[3], ["request", f"GET {PATH} HTTP/1.1", "range=bytes=100-", 'if_range="abc"'])
        # The file server takes a range only under its own validator.
        self.assertEqual(fields[4][2], "HTTP/1.0 200 OK")

    def test_replaces_the_file_between_the_drop_and_the_next_request(self):
        head, _, _ = fetch(self.port)
        etag = re.search(r"ETag: (\S+)", head).group(1)
        time.sleep(1.1)  # the server's validator counts whole seconds
        self.order(drops=1, replace="update/update.exe", **{"with": "update/next.exe"})
        _, cut, _ = fetch(self.port)
        head, body, _ = fetch(self.port, [f"Range: bytes={len(cut)}-", f"If-Range: {etag}"])
        self.assertTrue(head.startswith("HTTP/1.0 200 "), head)
        self.assertEqual(body, b"MZ next" * 5000)
        self.assertEqual((self.root / "update" / "next.exe").read_bytes(), body)
        self.assertIn(f"replaced\tupdate/update.exe\tsize={len(body)}", self.events(4))

    def test_forwards_untouched_under_orders_it_cannot_use(self):
        for orders, reason in (("{not json", "unreadable"), ('{"fraction": 0.4}', "no path"),
                               (json.dumps({"path": PATH, "fraction": 1.5}), "fraction 1.5"),
                               (json.dumps({"path": PATH, "drops": -1}), "drops -1"),
                               (json.dumps({"path": PATH, "how": "slowly"}), "how 'slowly'"),
                               (json.dumps({"path": PATH, "replace": "update/update.exe"}), "go together"),
                               (json.dumps({"path": PATH, "replace": "update/update.exe", "with": "../x"}),
                                "with '../x' is not a path under")):
            with self.subTest(reason=reason):
                self.log.write_text("")
                self.control.write_text(orders)
                head, body, end = fetch(self.port)
                self.assertEqual((head.split("\r\n")[0], body == self.package, end), ("HTTP/1.0 200 OK", True, "close"))
                errors = [line for line in self.events(4) if line.startswith("control-error\t")]
                self.assertEqual(len(errors), 1)
                self.assertIn(reason, errors[0])

    def test_refuses_bad_settings(self):
        for arguments in (["--port", "65536"], ["--port", "-1"], ["--upstream-port", "0"],
                          ["--root", self.root / "update" / "update.exe"]):
            with self.subTest(arguments=arguments):
                command = {"--port": "0", "--upstream-port": "1", "--control": self.control, "--log": self.log}
                command.update(zip(arguments[::2], arguments[1::2]))
                result = subprocess.run([sys.executable, RELAY, *[str(x) for kv in command.items() for x in kv]],
                                        capture_output=True, timeout=20)
                self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    RELAY, SERVER = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
