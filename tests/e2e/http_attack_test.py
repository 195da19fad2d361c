#!/usr/bin/env python3
"""The HTTP front of the real program under attack with raw sockets: clients without the token
that try to hold its connections or fill its memory, pipelined requests, framings and heads that
HTTP/1.1 does not allow. Usage: http_attack_test.py QuorinDriverServer [unittest options]."""
import re
import socket
import sys
import threading
import time
import unittest

import qds_program
from qds_program import Program, budget


def rss_peak_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


class AttackTest(unittest.TestCase):
    def setUp(self):
        self.program = Program("[Http]\r\nListen={port}\r\nMaxBodyKB=64\r\n",
                               rules="Rule1=^SLOW => delay 700\r\n").start()
        self.p = self.program

    def tearDown(self):
        self.program.cleanup()

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.p.port), timeout=budget(30))
        self.addCleanup(s.close)
        return s

    def head(self, method="POST", path="/v1/files", token=True, extra=b""):
        h = b"%s %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % (method.encode(), path.encode(),
                                                           self.p.port)
        if token:
            h += b"Authorization: Bearer %s\r\n" % self.p.token.encode()
        return h + extra

    def answer_of(self, raw):
        """Status of each answer read off one connection until it closes."""
        s = self.connect()
        s.sendall(raw)
        data = b""
        while True:
            try:
                chunk = s.recv(65536)
            except ConnectionResetError:
                break
            if not chunk:
                break
            data += chunk
        return data

    def statuses(self, data):
        return [int(m) for m in re.findall(rb"(?:^|\n)HTTP/1\.1 (\d{3}) ", data)]

    def test_clients_without_the_token_hold_no_connection_and_no_memory(self):
        p = self.p
        idle_kb = rss_peak_kb(p.process.pid)
        # 256 clients announce 16 MiB bodies without the token: each is answered 401 on its
        # head, before any of its body is read, and a good post goes through meanwhile.
        clients = []
        for _ in range(256):
            s = socket.create_connection(("127.0.0.1", p.port), timeout=budget(30))
            self.addCleanup(s.close)
            s.sendall(self.head(token=False) +
                      b"Content-Type: text/plain\r\nContent-Length: %d\r\n\r\nV" % (16 << 20))
            clients.append(s)
        started = time.monotonic()
        self.assertEqual(p.post(b"FAST 1\r\n")[0], 200)
        self.assertLess(time.monotonic() - started, budget(10))
        for s in clients:
            self.assertTrue(s.recv(4096).startswith(b"HTTP/1.1 401 "))

        # Sixteen send their 16 MiB as fast as they can: the memory hardly moves.
        def flood():
            s = socket.create_connection(("127.0.0.1", p.port), timeout=budget(30))
            try:
                s.sendall(self.head(token=False) +
                          b"Content-Length: %d\r\n\r\n" % (16 << 20) + b"a" * (16 << 20))
            except OSError:
                pass
            s.close()
        threads = [threading.Thread(target=flood) for _ in range(16)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(budget(60))
        self.assertLess(rss_peak_kb(p.process.pid) - idle_kb, 64 * 1024)

    def test_a_body_that_comes_too_slowly_is_cut_off(self):
        s = self.connect()
        s.sendall(self.head() + b"Content-Type: text/plain\r\nContent-Length: 100\r\n\r\n")
        started = time.monotonic()
        s.settimeout(1)
        received = b""
        # One byte a second: the body has 20 s and earns nearly nothing at that rate.
        while time.monotonic() - started < budget(40) and not received:
            try:
                s.sendall(b"V")
                received = s.recv(4096)
            except socket.timeout:
                continue
            except OSError:
                break
        self.assertTrue(received.startswith(b"HTTP/1.1 408 "), received)
        self.assertLess(time.monotonic() - started, budget(30))

    def test_pipelined_requests_are_answered_in_their_order(self):
        p = self.p
        post = self.head(path="/v1/files?wait=5") + b"Content-Type: text/plain\r\n" \
            b"Content-Length: 8\r\n\r\nSLOW 1\r\n"
        status = self.head(method="GET", path="/v1/status") + b"\r\n"
        refused = self.head(method="GET", path="/v1/status", token=False) + \
            b"Connection: close\r\n\r\n"
        data = self.answer_of(post + status + refused)
        self.assertEqual(self.statuses(data), [200, 200, 401], data)
        self.assertLess(data.index(b'"outcome"'), data.index(b'"register"'))
        self.assertEqual(p.journal_sends("SLOW 1"), 1)

    def test_the_body_limit_holds_for_chunked_bodies(self):
        p = Program("[Http]\r\nListen={port}\r\nMaxBodyKB=1\r\n").start()
        self.addCleanup(p.cleanup)
        self.p = p
        chunks = b"".join(b"%x\r\n%s\r\n" % (1000, b"VEND 12345\r\n" * 83 + b"VE\r\n")
                          for _ in range(60)) + b"9\r\nVEND 999\n\r\n0\r\n\r\n"
        data = self.answer_of(self.head() + b"Content-Type: text/plain\r\n"
                              b"Transfer-Encoding: chunked\r\n\r\n" + chunks)
        self.assertEqual(self.statuses(data)[:1], [413], data[:300])
        time.sleep(budget(0.5))
        self.assertEqual(p.journal_sends("VEND 999"), 0)
        self.assertEqual(p.job_files_in_input(), [])

    def test_heads_that_http11_does_not_allow_say_what_is_wrong(self):
        port = self.p.port
        token = b"Authorization: Bearer %s\r\n" % self.p.token.encode()
        cases = [
            ("another host in absolute form", 421,
             b"GET http://evil.example/v1/status HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n%s"
             b"Connection: close\r\n\r\n"
             % (port, token)),
            ("101 header fields", 431,
             b"GET /v1/status HTTP/1.1\r\n" + b"".join(b"X-%d: v\r\n" % i for i in range(100)) +
             b"Host: 127.0.0.1:%d\r\n%s\r\n" % (port, token)),
            ("a space before a colon", 400,
             b"GET /v1/status HTTP/1.1\r\nHost : evil\r\nHost: 127.0.0.1:%d\r\n%s\r\n"
             % (port, token)),
            ("xchunked", 400,
             self.head() + b"Transfer-Encoding: xchunked\r\n\r\n3\r\nV 1\r\n0\r\n\r\n"),
            ("HTTP/9.9", 505, b"GET /v1/status HTTP/9.9\r\nHost: 127.0.0.1:%d\r\n%s\r\n"
             % (port, token)),
        ]
        for what, status, raw in cases:
            with self.subTest(what):
                self.assertEqual(self.statuses(self.answer_of(raw))[:1], [status])

    def test_a_chunked_body_with_trailers_and_a_half_closed_client_are_answered(self):
        p = self.p
        trailers = self.head(path="/v1/files?wait=10") + \
            b"Content-Type: text/plain\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n" \
            b"\r\n8\r\nTRAIL 1\n\r\n0\r\nX-Checksum: 1\r\n\r\n"
        self.assertEqual(self.statuses(self.answer_of(trailers)), [200])
        # The client shuts its side after a whole post: it has its answer (the job as it
        # stands), and the job is sent once.
        for i in range(5):
            s = self.connect()
            s.sendall(self.head(path="/v1/files?wait=30") +
                      b"Content-Type: text/plain\r\nContent-Length: 8\r\n\r\nHALF %d\r\n" % i)
            s.shutdown(socket.SHUT_WR)
            data = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
            self.assertIn(self.statuses(data), ([202], [200]), data)
        deadline = time.monotonic() + budget(20)
        while time.monotonic() < deadline and \
                sum(p.journal_sends("HALF %d" % i) for i in range(5)) < 5:
            time.sleep(0.1)
        self.assertEqual([p.journal_sends("HALF %d" % i) for i in range(5)], [1] * 5)


if __name__ == "__main__":
    qds_program.EXE = sys.argv.pop(1)
    unittest.main()
