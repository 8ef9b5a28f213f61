#!/usr/bin/env python3
"""The file server of scripts/run and bench/run: what it serves and refuses, the
log bench/run counts requests in, and that it ends by itself.
Usage: file_server_test.py PATH/TO/file_server.py"""
import http.client
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
