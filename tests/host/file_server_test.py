#!/usr/bin/env python3
"""The local file server of scripts/run and bench/run: what it serves, what
it refuses, what it logs, and that it ends by itself.

    file_server_test.py PATH/TO/file_server.py
"""
import http.client
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = None


class FileServerTest(unittest.TestCase):
    def start(self, *arguments):
        """The server on a free port, and that port once it listens."""
        process = subprocess.Popen([sys.executable, SERVER, "--root", self.root, "--port", "0", *arguments],
                                   stderr=subprocess.PIPE, text=True)
        self.addCleanup(process.stderr.close)
        self.addCleanup(process.wait)
        self.addCleanup(process.kill)
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", process.stderr.readline())
        self.assertTrue(match, "the server named no port")
        return process, int(match.group(1))

    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.root = os.path.join(folder.name, "root")
        os.makedirs(os.path.join(self.root, "update"))
        with open(os.path.join(self.root, "update", "text.txt"), "wb") as file:
            file.write(b"news\r\n")
        with open(os.path.join(folder.name, "secret.txt"), "wb") as file:
            file.write(b"outside")
        os.symlink(os.path.join(folder.name, "secret.txt"), os.path.join(self.root, "update", "link.txt"))
        self.log = os.path.join(folder.name, "server.log")

    def test_serves_files_under_root_only(self):
        _, port = self.start("--log", self.log)
        cases = [
            ("GET", "/update/text.txt", 200, b"news\r\n"),
            ("HEAD", "/update/text.txt", 200, b""),
            ("GET", "/update/text.txt?v=2", 200, b"news\r\n"),
            ("GET", "/update/missing.txt", 404, None),
            ("GET", "/update", 404, None),
            ("GET", "/update/../../secret.txt", 404, None),
            ("GET", "/%2e%2e/secret.txt", 404, None),
            ("GET", "/update/link.txt", 404, None),
            ("GET", "update/text.txt", 404, None),
            ("POST", "/update/text.txt", 501, None),
        ]
        for method, path, status, body in cases:
            with self.subTest(method=method, path=path):
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                connection.request(method, path)
                response = connection.getresponse()
                data = response.read()
                connection.close()
                self.assertEqual(response.status, status)
                if body is not None:
                    self.assertEqual(data, body)
                    self.assertEqual(response.getheader("Content-Length"), "6")
                self.assertNotIn(b"outside", data)
        with open(self.log) as log:
            self.assertEqual(log.read().splitlines(),
                             [f"{method} {path} {status}" for method, path, status, _ in cases])

    def test_ends_by_itself_after_its_lifetime(self):
        process, _ = self.start("--lifetime", "1", "--log", self.log)
        started = time.monotonic()
        process.wait(timeout=20)
        self.assertEqual(process.returncode, -signal.SIGALRM)
        self.assertLess(time.monotonic() - started, 10)

    def test_refuses_bad_settings(self):
        cases = [
            ["--root", self.root, "--port", "65536"],
            ["--root", self.root, "--port", "-1"],
            ["--root", self.root, "--port", "0", "--lifetime", "0"],
            ["--root", os.path.join(self.root, "update", "text.txt"), "--port", "0"],
            ["--port", "0"],
        ]
        for arguments in cases:
            with self.subTest(arguments=arguments):
                result = subprocess.run([sys.executable, SERVER, *arguments], capture_output=True, timeout=20)
                self.assertEqual(result.returncode, 2)


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    unittest.main()
