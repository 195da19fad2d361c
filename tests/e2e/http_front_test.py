#!/usr/bin/env python3
"""The HTTP front of the real program, with real clients: python's http.client, raw sockets
and curl. Usage: http_front_test.py QuorinDriverServer [unittest options]."""
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

import qds_program
from qds_program import Program, budget


class FrontTest(unittest.TestCase):
    def setUp(self):
        self.program = Program("[Http]\r\nListen={port}\r\nAllowOrigin=https://pos.example\r\n",
                               rules="Rule1=^BAD => result 17\r\n"
                                     "Rule2=^COVER => cover 100000000\r\n"
                                     "Rule3=^SLOW => delay 700\r\n").start()

    def tearDown(self):
        self.program.cleanup()

    def test_a_posted_file_is_sent_and_its_verdict_kept(self):
        p = self.program
        lines = "".join("VEND %d\r\n" % i for i in range(10))
        status, _, job = p.post(lines.encode())
        self.assertEqual(status, 200, job)
        self.assertEqual((job["state"], job["outcome"]), ("done", "sent"))
        self.assertIsInstance(job["receipt"], int)
        self.assertTrue(job["dump"], job)
        self.assertNotIn("error", job)
        self.assertEqual(p.request("GET", "/v1/files/" + job["id"])[2], job)
        self.assertEqual(p.job_files_in_input(), [], "results do not pile up in the input folder")

        status, _, failed = p.post("VEND 1\r\nBAD é\r\n".encode("cp1252"))
        self.assertEqual(status, 200, failed)
        self.assertEqual(failed["outcome"], "failed")
        self.assertEqual(failed["error"]["code"], 17)
        self.assertEqual((failed["error"]["row"], failed["error"]["line"]), (2, "BAD é"))
        self.assertTrue(failed["error"]["text"])
        self.assertIsNone(failed["receipt"])
        unsent = os.listdir(os.path.join(p.folder, "UNSENT"))
        self.assertTrue(any(n.endswith("HTTP-%s.TXT" % failed["id"]) for n in unsent), unsent)
        with open(os.path.join(p.input, "QuorinDriverServer.LOG"), encoding="cp1252") as f:
            self.assertIn("Error=17;", f.read())

        status, _, utf8 = p.post("BAD caffè €\r\n".encode("utf-8"),
                                 headers={"Content-Type": "text/plain; charset=utf-8"})
        self.assertEqual(utf8["error"]["line"], "BAD caffè €")
        # UTF-8 with its byte order mark but no charset would print the mark: refused.
        status, _, marked = p.post("\ufeffVEND MARK\r\n".encode("utf-8"))
        self.assertEqual(status, 415, marked)
        self.assertIn("charset=utf-8", marked["error"]["text"])
        self.assertEqual(p.journal_sends("VEND MARK"), 0)
        status, _, refused = p.post("uno\r\n中\r\n".encode("utf-8"),
                                    headers={"Content-Type": "text/plain; charset=utf-8"})
        self.assertEqual((status, refused["error"]["row"]), (422, 2))

        self.assertEqual(p.request("GET", "/v1/files/20990101000000000-abcd")[0], 404)
        self.assertEqual(p.request("GET", "/v1/files/../../etc")[0], 404)

    def test_a_job_not_done_within_wait_is_accepted_and_can_be_asked_for(self):
        p = self.program
        status, headers, job = p.post(b"VEND 1\r\n", wait=0)
        self.assertEqual(status, 202, job)
        self.assertEqual(headers["Location"], "/v1/files/" + job["id"])
        self.assertIn(job["state"], ("waiting", "sending"))
        deadline = time.monotonic() + budget(20)
        while job["state"] != "done" and time.monotonic() < deadline:
            time.sleep(0.05)
            job = p.request("GET", headers["Location"])[2]
        self.assertEqual(job["outcome"], "sent")
        for wait in ("121", "-1", "soon", "+5"):
            self.assertEqual(p.post(b"VEND 1\r\n", wait=wait)[0], 400, wait)

    def test_a_client_that_goes_does_not_cancel_its_job(self):
        p = self.program
        s = socket.create_connection(("127.0.0.1", p.port))
        body = b"GONE 1\r\n"
        s.sendall(b"POST /v1/files?wait=30 HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                  b"Authorization: Bearer %s\r\nIdempotency-Key: gone\r\n"
                  b"Content-Type: text/plain\r\nContent-Length: %d\r\n\r\n%s"
                  % (p.port, p.token.encode(), len(body), body))
        s.close()
        deadline = time.monotonic() + budget(20)
        while p.journal_sends("GONE 1") == 0 and time.monotonic() < deadline:
            time.sleep(0.05)
        status, _, job = p.post(body, key="gone")
        self.assertEqual((status, job["outcome"]), (200, "sent"))
        self.assertEqual(p.journal_sends("GONE 1"), 1)

    def test_the_same_key_is_the_same_job_across_restarts_and_kills(self):
        p = self.program
        first = p.post(b"ONCE 1\r\n", key="sale-42")[2]
        self.assertEqual(p.post(b"ONCE 1\r\n", key="sale-42")[2], first)
        status, _, other = p.post(b"ONCE 2\r\n", key="sale-42")
        self.assertEqual(status, 422, other)
        for sig in (signal.SIGTERM, signal.SIGKILL):
            p.stop(sig)
            p.start()
            self.assertEqual(p.post(b"ONCE 1\r\n", key="sale-42")[2], first, sig)
            self.assertEqual(p.request("GET", "/v1/files/" + first["id"])[2], first)
        self.assertEqual(p.journal_sends("ONCE 1"), 1)
        for key in ("", "a" * 256, "with blank", "àccent"):
            h = {"Idempotency-Key": key}
            status = p.request("POST", "/v1/files", b"X\r\n",
                               {k: v.encode("utf-8") for k, v in h.items()})[0]
            self.assertEqual(status, 400, key)

    def test_an_answer_released_early_never_wakes_inside_a_later_file(self):
        # The job and a slower file are sent in one round, the job first: its answer goes at
        # its verdict, and its wait would have ended in the middle of the slower file.
        p = self.program
        with open(os.path.join(p.input, "A.TXT"), "wb") as f:
            f.write(b"SLOW 0\r\n")  # keeps the register busy while the others arrive
        time.sleep(0.2)
        answers = []
        poster = threading.Thread(target=lambda: answers.append(p.post(b"QUICK 1\r\n", wait=3)))
        poster.start()
        with open(os.path.join(p.input, "Z.TXT"), "wb") as f:
            f.write(b"".join(b"SLOW %d\r\n" % i for i in range(1, 9)))
        poster.join(budget(30))
        self.assertEqual(answers and answers[0][2]["outcome"], "sent", answers)
        deadline = time.monotonic() + budget(60)
        while os.path.exists(os.path.join(p.input, "Z.TXT")) and time.monotonic() < deadline:
            self.assertIsNone(p.process.poll(), p.stderr())
            time.sleep(0.1)
        self.assertIsNone(p.process.poll(), p.stderr())
        self.assertTrue(os.path.exists(os.path.join(p.input, "Z.OK")), p.stderr())
        self.assertFalse(os.path.exists(os.path.join(p.input, "Z.KO")))
        self.assertEqual(p.journal_sends("SLOW 8"), 1)

    def test_a_job_whose_file_never_reached_the_folder_may_be_posted_again(self):
        # A kill between the job's line in the journal and its command file.
        p = self.program
        p.stop()
        body = b"LOST 1\r\n"
        job_id = "20261209100000000-0001"
        line = {"op": "made", "id": job_id, "created": "2026-12-09T10:00:00.000Z",
                "key": "lost-1", "digest": hashlib.sha256(body).hexdigest(),
                "file": os.path.join(p.input, "HTTP-%s.TXT" % job_id)}
        with open(os.path.join(p.folder, "HttpJobs", "jobs.journal"), "a") as f:
            f.write(json.dumps(line) + "\n")
        p.start()
        status, _, lost = p.request("GET", "/v1/files/" + job_id)
        self.assertEqual((status, lost["state"], lost["outcome"]), (200, "done", "not-sent"))
        self.assertTrue(lost["error"]["text"].startswith("Il file di comandi"), lost)
        self.assertEqual(p.post(b"LOST 2\r\n", key="lost-1")[0], 422, "another body")
        status, _, again = p.post(body, key="lost-1")
        self.assertEqual((status, again["outcome"]), (200, "sent"), again)
        self.assertNotEqual(again["id"], job_id)
        self.assertEqual(p.post(body, key="lost-1")[2]["id"], again["id"])
        self.assertEqual(p.journal_sends("LOST 1"), 1)

    def test_the_program_ends_cleanly_while_answers_are_held_back(self):
        p = self.program
        waiting = []
        for path in ("/v1/events?after=%d" % p.request("GET", "/v1/events")[2]["seq"],
                     "/v1/files?wait=120"):
            s = socket.create_connection(("127.0.0.1", p.port))
            body = b"COVER 1\r\n" if "files" in path else b""
            s.sendall(b"%s %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n"
                      b"Content-Type: text/plain\r\nContent-Length: %d\r\n\r\n%s"
                      % (b"POST" if body else b"GET", path.encode(), p.port, p.token.encode(),
                         len(body), body))
            waiting.append(s)
        time.sleep(0.5)
        p.stop()
        self.assertEqual(p.process.returncode, 0, p.stderr())
        for s in waiting:
            s.close()

    def test_status(self):
        p = self.program
        p.post(b"VEND 1\r\n")
        status, _, s = p.request("GET", "/v1/status")
        self.assertEqual(status, 200)
        self.assertEqual(s["register"], "ready")
        self.assertIsNone(s["error"])
        self.assertIsInstance(s["lastReceipt"]["number"], int)
        self.assertTrue(s["lastReceipt"]["time"])
        self.assertEqual(s["waiting"], 0)
        self.assertTrue(s["version"])
        p.post(b"BAD 1\r\n")
        self.assertTrue(p.request("GET", "/v1/status")[2]["error"])

    def test_requests_without_the_token_or_from_elsewhere_are_refused(self):
        p = self.program
        before = sorted(os.listdir(p.input))
        self.assertEqual(p.request("GET", "/v1/status", token=False)[0], 401)
        self.assertEqual(p.request("GET", "/v1/status", headers={
            "Authorization": "Bearer " + p.token[:-1] + "x"}, token=False)[0], 401)
        self.assertEqual(p.request("GET", "/v1/status?token=" + p.token)[0], 400)
        self.assertEqual(p.request("GET", "/v1/status?x=" + p.token)[0], 400)
        for host in ("evil.example:%d" % p.port, "127.0.0.1:1", "127.0.0.2:%d" % p.port, ""):
            self.assertEqual(p.request("GET", "/v1/status", headers={"Host": host})[0], 421, host)
        for host in ("localhost:%d" % p.port, "LOCALHOST:%d" % p.port):
            self.assertEqual(p.request("GET", "/v1/status", headers={"Host": host})[0], 200, host)
        # A page elsewhere posting a "simple" request (no Authorization, text/plain).
        status, headers, _ = p.request("POST", "/v1/files", b"SALE 1\r\n",
                                       {"Origin": "https://evil.example"}, token=False)
        self.assertEqual(status, 403)
        self.assertNotIn("Access-Control-Allow-Origin", headers)
        status, _, _ = p.request("POST", "/v1/files", b"SALE 1\r\n", token=False)
        self.assertEqual(status, 401)
        self.assertEqual(sorted(os.listdir(p.input)), before)
        self.assertEqual(p.journal_sends("SALE 1"), 0)

    def test_cors_answers_the_listed_origins_only(self):
        p = self.program
        preflight = {"Origin": "https://pos.example", "Access-Control-Request-Method": "POST",
                     "Access-Control-Request-Headers": "authorization, idempotency-key"}
        status, headers, _ = p.request("OPTIONS", "/v1/files", headers=preflight, token=False)
        self.assertEqual(status, 204)
        self.assertEqual(headers["Access-Control-Allow-Origin"], "https://pos.example")
        self.assertIn("Authorization", headers["Access-Control-Allow-Headers"])
        preflight["Origin"] = "https://evil.example"
        status, headers, _ = p.request("OPTIONS", "/v1/files", headers=preflight, token=False)
        self.assertEqual(status, 403)
        self.assertNotIn("Access-Control-Allow-Origin", headers)
        status, headers, _ = p.request("GET", "/v1/status", headers={"Origin": "https://pos.example"})
        self.assertEqual((status, headers["Access-Control-Allow-Origin"]), (200, "https://pos.example"))
        status, headers, _ = p.request("GET", "/v1/status")
        self.assertNotIn("Access-Control-Allow-Origin", headers)

    def test_the_page_loads_nothing_from_elsewhere(self):
        p = self.program
        status, headers, page = p.request("GET", "/", token=False)
        self.assertEqual(status, 200)
        self.assertIn("default-src 'none'", headers["Content-Security-Policy"])
        self.assertNotRegex(page.decode(), r"(src|href)=\"(https?:)?//")
        self.assertIn('lang="it"', page.decode())
        for path in ("/page.js", "/page.css"):
            self.assertEqual(p.request("GET", path, token=False)[0], 200)
        self.assertEqual(p.request("POST", "/", b"", token=False)[0], 405)

    def test_limits(self):
        p = self.program
        # A body announced beyond the limit: refused at once, before it is sent.
        s = socket.create_connection(("127.0.0.1", p.port), timeout=budget(10))
        s.sendall(b"POST /v1/files HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: text/plain\r\n"
                  b"Authorization: Bearer %s\r\nContent-Length: %d\r\n\r\nVEND"
                  % (p.port, p.token.encode(), 16 * 1024 * 1024 + 1))
        self.assertIn(b" 413 ", s.recv(4096).split(b"\r\n")[0] + b" ")
        s.close()
        # Headers beyond 16 KiB.
        s = socket.create_connection(("127.0.0.1", p.port), timeout=budget(10))
        s.sendall(b"GET /v1/status HTTP/1.1\r\nX-Filler: " + b"a" * 17000)
        self.assertTrue(s.recv(4096).startswith(b"HTTP/1.1 431 "))
        s.close()
        # A client that sends one byte a second holds up nobody.
        slow = socket.create_connection(("127.0.0.1", p.port))
        slow.sendall(b"POST /v1/files HTTP/1.1\r\nHo")
        started = time.monotonic()
        self.assertEqual(p.post(b"FAST 1\r\n")[0], 200)
        self.assertLess(time.monotonic() - started, budget(5))
        slow.close()
        # With 256 connections open and idle, the one open longest makes room for a new one.
        held = [socket.create_connection(("127.0.0.1", p.port)) for _ in range(256)]
        try:
            time.sleep(0.2)
            extra = socket.create_connection(("127.0.0.1", p.port), timeout=budget(10))
            extra.sendall(b"GET /v1/status HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                          b"Authorization: Bearer %s\r\n\r\n" % (p.port, p.token.encode()))
            self.assertTrue(extra.recv(4096).startswith(b"HTTP/1.1 200 "))
            extra.close()
            held[0].settimeout(budget(10))
            self.assertEqual(held[0].recv(10), b"", "the oldest idle connection was closed")
        finally:
            for s in held:
                s.close()

    def test_curl(self):
        if not shutil.which("curl"):
            self.skipTest("no curl")
        p = self.program
        out = subprocess.run(["curl", "-sS", "-H", "Authorization: Bearer " + p.token,
                              "-H", "Content-Type: text/plain; charset=utf-8",
                              "-H", "Idempotency-Key: curl-1", "--data-binary", "VEND caffè\r\n",
                              "http://127.0.0.1:%d/v1/files?wait=10" % p.port],
                             capture_output=True, check=True, timeout=budget(30))
        job = json.loads(out.stdout)
        self.assertEqual(job["outcome"], "sent", out)


class WaitingTest(unittest.TestCase):
    def test_a_thousand_jobs_may_wait_and_the_status_says_so(self):
        p = Program("[Http]\r\nListen={port}\r\n",
                    rules="Rule1=^COVER => cover 100000000\r\n").start()
        try:
            self.assertEqual(p.post(b"COVER 1\r\n", wait=0)[0], 202)
            deadline = time.monotonic() + budget(20)
            while p.request("GET", "/v1/status")[2]["register"] != "cover-open":
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.05)
            for i in range(999):
                self.assertEqual(p.post(b"VEND %d\r\n" % i, wait=0)[0], 202, i)
            status, headers, _ = p.post(b"VEND 1000\r\n", wait=0)
            self.assertEqual(status, 503)
            self.assertIn("Retry-After", headers)
            self.assertGreaterEqual(p.request("GET", "/v1/status")[2]["waiting"], 999)
        finally:
            p.cleanup()


class SettingsTest(unittest.TestCase):
    def test_bad_values_leave_the_front_off_and_the_program_running(self):
        p = Program("[Http]\r\nListen=shop.example:8750\r\n")
        try:
            p.start(expect_front=False)
            self.assertIn("the HTTP front stays off: Listen=shop.example:8750", p.stderr())
            with open(os.path.join(p.input, "FOLDER.TXT"), "wb") as f:
                f.write(b"VEND 1\r\n")
            deadline = time.monotonic() + budget(20)
            while not os.path.exists(os.path.join(p.input, "FOLDER.OK")):
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.05)
            with open(os.path.join(p.input, "QuorinDriverServer.LOG"), encoding="cp1252") as f:
                self.assertIn(";HttpOff=Listen=shop.example:8750", f.read())
        finally:
            p.cleanup()

    def test_without_the_section_nothing_listens(self):
        p = Program("")
        try:
            p.start(expect_front=False)
            self.assertNotIn("HTTP", p.stderr())
            self.assertFalse(os.path.exists(os.path.join(p.folder, "QuorinDriverServer.token")))
            self.assertFalse(os.path.exists(os.path.join(p.folder, "HttpJobs")))
        finally:
            p.cleanup()


if __name__ == "__main__":
    qds_program.EXE = sys.argv.pop(1)
    unittest.main()
