"""A program folder with an HTTP front, and the real program running on it (for the tests)."""
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

EXE = None
SCALE = float(os.environ.get("QDS_TEST_TIME_SCALE", "1"))


def budget(seconds):
    return seconds * SCALE


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Program:
    """One program folder, and the program running on it."""

    def __init__(self, http_section, rules="", folder=None):
        self.folder = folder or tempfile.mkdtemp(prefix="qds-http-")
        self.port = free_port()
        section = http_section.replace("{port}", str(self.port))
        with open(os.path.join(self.folder, "ZEZOVURADUR.INI"), "w") as f:
            f.write("[Parameters]\r\nFrequence=1\r\n" + section)
        if rules:
            with open(os.path.join(self.folder, "Simulatore.ini"), "w") as f:
                f.write("[Rules]\r\n" + rules)
        self.process = None

    @property
    def input(self):
        return os.path.join(self.folder, "TOSEND")

    def start(self, expect_front=True):
        self.stderr_path = os.path.join(self.folder, "stderr.txt")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        with open(self.stderr_path, "w") as stderr:
            self.process = subprocess.Popen([EXE, "--folder", self.folder], env=env,
                                            stdout=subprocess.DEVNULL, stderr=stderr)
        deadline = time.monotonic() + budget(30)
        while time.monotonic() < deadline:
            text = self.stderr()
            if "started in" in text:
                if expect_front:
                    assert "HTTP front on" in text, text
                    with open(os.path.join(self.folder, "QuorinDriverServer.token")) as f:
                        self.token = f.read().strip()
                return self
            assert self.process.poll() is None, text
            time.sleep(0.05)
        raise AssertionError("the program did not start: " + self.stderr())

    def stderr(self):
        with open(self.stderr_path) as f:
            return f.read()

    def stop(self, sig=signal.SIGTERM):
        if self.process and self.process.poll() is None:
            self.process.send_signal(sig)
            self.process.wait(timeout=budget(30))

    def connection(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=budget(60))

    def request(self, method, path, body=None, headers=None, token=True):
        h = {"Content-Type": "text/plain"} if body is not None else {}
        if token:
            h["Authorization"] = "Bearer " + self.token
        h.update(headers or {})
        c = self.connection()
        c.request(method, path, body=body, headers=h)
        r = c.getresponse()
        data = r.read()
        c.close()
        return r.status, dict(r.getheaders()), json.loads(data) if data.startswith(b"{") else data

    def post(self, body, key=None, wait=None, headers=None):
        h = dict(headers or {})
        if key:
            h["Idempotency-Key"] = key
        path = "/v1/files" + ("" if wait is None else "?wait=%s" % wait)
        return self.request("POST", path, body, h)

    def journal_sends(self, text):
        with open(os.path.join(self.folder, "Simulatore.log"), encoding="cp1252") as f:
            return sum(1 for line in f if re.search(r";Send=\d+;\d;\d+;" + re.escape(text) + "$",
                                                    line.rstrip("\r\n")))

    def job_files_in_input(self):
        return [n for n in os.listdir(self.input) if n.startswith("HTTP-")]

    def cleanup(self):
        self.stop(signal.SIGKILL)
        shutil.rmtree(self.folder, ignore_errors=True)


