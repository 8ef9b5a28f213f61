#!/usr/bin/env python3
"""The file server of scripts/run and bench/run: what it serves and refuses, its
validators and byte ranges, the log bench/run counts requests in, and that it
ends by itself.
Usage: file_server_test.py PATH/TO/file_server.py"""
import email.utils
import http.client
import os
import pathlib
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = None


class FileServerTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        top = pathlib.Path(folder.name)
        self.root, self.log = top / "root", top / "server.log"
        (self.root / "update").mkdir(parents=True)
        (self.root / "update" / "text.txt").write_bytes(b"news\r\n")
        (top / "secret.txt").write_bytes(b"outside")
        (self.root / "update" / "link.txt").symlink_to(top / "secret.txt")

    def start(self, *arguments):
        """The server on a free port, with the process and that port."""
        process = subprocess.Popen([sys.executable, SERVER, "--root", self.root, "--port", "0", "--log", self.log,
                                    *arguments], stderr=subprocess.PIPE, text=True)
        for cleanup in (process.stderr.close, process.wait, process.kill):
            self.addCleanup(cleanup)
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", process.stderr.readline())
        self.assertTrue(match, "the server named no port")
        return process, int(match.group(1))

    def test_serves_files_under_root_only(self):
        _, port = self.start()
        # A missing file, a folder, and three ways out of the root: up, encoded up, a link.
        refused = ["/update/missing.txt", "/update", "/update/../../secret.txt", "/%2e%2e/secret.txt",
                   "/update/link.txt"]
        cases = [("/update/text.txt", 200)] + [(path, 404) for path in refused]
        for path, status in cases:
            with self.subTest(path=path):
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                self.addCleanup(connection.close)
                connection.request("GET", path)
                response = connection.getresponse()
                self.assertEqual(response.status, status)
                if status == 200:
                    self.assertEqual((response.read(), response.getheader("Content-Length")), (b"news\r\n", "6"))
        # A body's line is written once the body is out, which can be after
        # the client has sent its next request: lines are not in request order.
        deadline = time.monotonic() + 5
        while len(self.log.read_text().splitlines()) < len(cases) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertCountEqual(self.log.read_text().splitlines(), [f"GET {path} {status}" for path, status in cases])

    def test_answers_ranges_as_a_static_server(self):
        package = bytes(range(256)) * 4
        (self.root / "update" / "update.exe").write_bytes(package[:1000])
        package = package[:1000]
        facts = os.stat(self.root / "update" / "update.exe")
        etag = f'"{int(facts.st_mtime):x}-{1000:x}"'
        modified = email.utils.formatdate(int(facts.st_mtime), usegmt=True)
        other_date = email.utils.formatdate(int(facts.st_mtime) - 60, usegmt=True)
        _, port = self.start()
        whole = (200, 0, 1000)
        # Range, If-Range, then the status and the part of the file expected.
        cases = [
            (None, None, whole),
            ("bytes=100-", None, (206, 100, 1000)),
            ("bytes=100-199", None, (206, 100, 200)),
            ("bytes=-50", None, (206, 950, 1000)),
            ("bytes=-5000", None, (206, 0, 1000)),
            ("bytes=900-5000", None, (206, 900, 1000)),
            ("bytes=999-999", None, (206, 999, 1000)),
            ("bytes=1000-", None, (416, 0, 0)),
            ("bytes=-0", None, (416, 0, 0)),
            # Several ranges, and ranges it cannot read, get the whole file.
            ("bytes=0-10,20-30", None, whole),
            ("bytes=abc", None, whole),
            ("bytes=200-100", None, whole),
            ("items=0-10", None, whole),
            ("bytes=-", None, whole),
            # A range only of the very file the client holds a part of.
            ("bytes=100-", etag, (206, 100, 1000)),
            ("bytes=100-", modified, (206, 100, 1000)),
            ("bytes=100-", '"0-3e8"', whole),
            ("bytes=100-", "W/" + etag, whole),
            ("bytes=100-", other_date, whole),
        ]
        for range_header, if_range, (status, first, end) in cases:
            for method in ("GET", "HEAD"):
                with self.subTest(method=method, range=range_header, if_range=if_range):
                    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                    self.addCleanup(connection.close)
                    headers = {key: value for key, value in (("Range", range_header), ("If-Range", if_range))
                               if value is not None}
                    connection.request(method, "/update/update.exe", headers=headers)
                    response = connection.getresponse()
                    body = response.read()
                    self.assertEqual(response.status, status)
                    if status == 416:
                        self.assertEqual(response.getheader("Content-Range"), "bytes */1000")
                        self.assertEqual(body, b"")
                        continue
                    self.assertEqual(body, package[first:end] if method == "GET" else b"")
                    self.assertEqual(response.getheader("Content-Length"), str(end - first))
                    self.assertEqual(response.getheader("Content-Range"),
                                     f"bytes {first}-{end - 1}/1000" if status == 206 else None)
                    self.assertEqual((response.getheader("ETag"), response.getheader("Last-Modified"),
                                      response.getheader("Accept-Ranges")), (etag, modified, "bytes"))
        deadline = time.monotonic() + 5
        expected = [f"{method} /update/update.exe {status}" for _, _, (status, _, _) in cases
                    for method in ("GET", "HEAD")]
        while len(self.log.read_text().splitlines()) < len(expected) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertCountEqual(self.log.read_text().splitlines(), expected)

    def test_ends_by_itself_after_its_lifetime(self):
        process, _ = self.start("--lifetime", "1")
        self.assertEqual(process.wait(timeout=10), -signal.SIGALRM)

    def test_refuses_bad_settings(self):
        for arguments in (["--port", "65536"], ["--port", "-1"], ["--port", "0", "--lifetime", "0"],
                          ["--root", self.root / "update" / "text.txt", "--port", "0"]):
            with self.subTest(arguments=arguments):
                result = subprocess.run([sys.executable, SERVER, "--root", self.root, *arguments],
                                        capture_output=True, timeout=20)
                self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    unittest.main()
