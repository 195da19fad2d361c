#!/usr/bin/env python3
"""Everything that can be served while the register waits, at once: a slow register (a delay on
every line, open-cover waits) while HTTP posts with short waits, status, page and news
requests, folder drops, jobs through the MQTT link (with Mosquitto and paho-mqtt at hand) and
SIGTERMs (then a restart) arrive. Meant for a build with
AddressSanitizer: a crash, a sanitizer report, a line sent twice or a file or job without its
verdict fails it.

Usage: bench/reentrancy_bench.py QuorinDriverServer [--seconds N] [--seed S]
CI runs it briefly on the sanitizer build; the longer run is --seconds 600.
"""
import argparse
import http.client
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "e2e"))
from mqtt_broker import AVAILABLE as MQTT, Broker, Pos  # noqa: E402
MQTT_ROOT = "reentrancy/cassa"

SCALE = max(1.0, float(os.environ.get("QDS_TEST_TIME_SCALE", "1") or 1))
TOKEN = "reentrancy-bench-token-0123456789"
RULES = (b"[Register]\r\nLineDelay=60\r\nNextReceipt=1\r\n[Rules]\r\n"
         b"Rule1=^SLOW => delay 400\r\nRule2=^COVER => cover 3\r\nRule3=^BAD => result 17\r\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Bench:
    def __init__(self, exe, seconds, seed):
        self.exe = exe
        self.seconds = seconds
        self.rng = random.Random(seed)
        self.folder = tempfile.mkdtemp(prefix="qds-reentrancy-")
        self.port = free_port()
        self.input = os.path.join(self.folder, "TOSEND")
        os.makedirs(self.input)
        self.broker = Broker(tls=False, auth=False, log=False).start() if MQTT else None
        with open(os.path.join(self.folder, "ZEZOVURADUR.INI"), "wb") as f:
            f.write(b"[Parameters]\r\nFrequence=0.2\r\n[Http]\r\nListen=%d\r\nToken=%s\r\n"
                    % (self.port, TOKEN.encode()))
            if self.broker:
                f.write(b"[Mqtt]\r\nBroker=%s\r\nTopic=%s\r\n" % (self.broker.url.encode(),
                                                                    MQTT_ROOT.encode()))
        self.pos = Pos(self.broker, client_id="reentrancy-pos", persistent=True,
                       subscribe=(MQTT_ROOT + "/replies/#",)) if self.broker else None
        self.mqtt_jobs = {}  # key -> lines
        self.mqtt_done = set()
        with open(os.path.join(self.folder, "Simulatore.ini"), "wb") as f:
            f.write(RULES)
        self.dropped = {}  # name -> lines
        self.jobs = {}     # key -> lines
        self.answers = {}  # key -> last job seen
        self.counter = 0
        self.problems = []
        self.process = None
        self.starts = 0
        self.requests = 0
        self.lock = threading.Lock()

    def lines(self, tag):
        n = self.rng.randint(1, 4)
        kinds = ["SALE"] * 6 + ["SLOW", "COVER", "BAD"]
        out = []
        for i in range(n):
            self.counter += 1
            out.append("%s %s-%d" % (self.rng.choice(kinds), tag, self.counter))
        return out

    def start(self):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
        env.setdefault("ASAN_OPTIONS", "detect_leaks=0")
        self.stderr = open(os.path.join(self.folder, "stderr-%d.txt" % self.starts), "w")
        self.process = subprocess.Popen([self.exe, "--folder", self.folder], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.starts += 1
        deadline = time.monotonic() + 60 * SCALE
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                if self.process.poll() is not None:
                    break
                time.sleep(0.05)
        self.problems.append("the program did not start (status %s)" % self.process.poll())

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(60 * SCALE)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = "hung after SIGTERM"
        self.stderr.close()
        text = open(self.stderr.name, errors="replace").read()
        if status != 0 or "Sanitizer" in text or "runtime error" in text:
            self.problems.append("start %d ended with %s: %s" % (self.starts, status, text[-2000:]))

    def request(self, method, path, body=None, headers=None):
        h = {"Authorization": "Bearer " + TOKEN}
        h.update(headers or {})
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30 * SCALE)
        try:
            c.request(method, path, body=body, headers=h)
            r = c.getresponse()
            data = r.read()
            return r.status, data
        finally:
            c.close()
            with self.lock:
                self.requests += 1

    def post(self, key, lines):
        body = "".join(l + "\r\n" for l in lines).encode()
        try:
            status, data = self.request("POST", "/v1/files?wait=%d" % self.rng.choice([0, 1, 2]),
                                        body, {"Content-Type": "text/plain",
                                               "Idempotency-Key": key})
            if status in (200, 202):
                self.answers[key] = json.loads(data)
        except (OSError, http.client.HTTPException):
            pass  # a SIGTERM came; the key is posted again at the end

    def publish(self, key, lines):
        self.pos.send(MQTT_ROOT + "/jobs", "".join(l + "\r\n" for l in lines).encode(), key=key,
                      reply_to=MQTT_ROOT + "/replies/pos", correlation=key.encode())

    def take_replies(self):
        while self.pos and not self.pos.received.empty():
            m = self.pos.received.get()
            if json.loads(m.payload).get("state") == "done":
                self.mqtt_done.add((getattr(m.properties, "CorrelationData", b"") or
                                    b"").decode())

    def client(self, until):
        while time.monotonic() < until:
            what = self.rng.random()
            try:
                if what < 0.35:
                    key = "job-%d" % self.counter
                    lines = self.lines("H")
                    self.jobs[key] = lines
                    self.post(key, lines)
                elif what < 0.6:
                    self.request("GET", "/v1/status")
                elif what < 0.75:
                    self.request("GET", "/")
                elif what < 0.85:
                    self.request("GET", "/v1/events?after=1")
                elif what < 0.92 and self.pos:
                    with self.lock:
                        key = "mqtt-%d" % self.counter
                        self.counter += 1
                    lines = self.lines("M")
                    self.mqtt_jobs[key] = lines
                    self.publish(key, lines)
                else:
                    name = "F%05d.TXT" % self.counter
                    lines = self.lines("F")
                    self.dropped[name] = lines
                    with open(os.path.join(self.input, name), "w") as f:
                        f.write("".join(l + "\r\n" for l in lines))
            except (OSError, http.client.HTTPException):
                time.sleep(0.05)

    def run(self):
        end = time.monotonic() + self.seconds
        self.start()
        while time.monotonic() < end and not self.problems:
            span = min(end - time.monotonic(), self.rng.uniform(2, 6))
            until = time.monotonic() + span
            clients = [threading.Thread(target=self.client, args=(until,)) for _ in range(3)]
            for t in clients:
                t.start()
            for t in clients:
                t.join()
            # A SIGTERM in the middle of whatever is under way, then the next start.
            self.stop()
            if self.problems:
                break
            self.start()
        # Everything still waiting is sent (the load is above what the slow register does, so
        # this takes as long as it takes: only a stall fails), then every job is posted again
        # with its key for its verdict.
        def waiting():
            return sum(n.upper().endswith(".TXT") for n in os.listdir(self.input))
        left, stalled = waiting(), time.monotonic() + 60 * SCALE
        while left and time.monotonic() < stalled and self.process.poll() is None:
            time.sleep(0.5)
            now_left = waiting()
            if now_left < left:
                left, stalled = now_left, time.monotonic() + 60 * SCALE
        for key, lines in self.jobs.items():
            deadline = time.monotonic() + 60 * SCALE
            while time.monotonic() < deadline and self.process.poll() is None:
                self.post(key, lines)
                if self.answers.get(key, {}).get("state") == "done":
                    break
                time.sleep(0.2)
        deadline = time.monotonic() + 120 * SCALE
        while self.pos and time.monotonic() < deadline and self.process.poll() is None:
            self.take_replies()
            missing = [k for k in self.mqtt_jobs if k not in self.mqtt_done]
            if not missing:
                break
            for key in missing:
                self.publish(key, self.mqtt_jobs[key])
            time.sleep(1 * SCALE)
        self.stop()
        if self.pos:
            self.pos.close()
            self.broker.cleanup()
        return self.check()

    def check(self):
        sends = {}
        journal = open(os.path.join(self.folder, "Simulatore.log"), "rb").read().decode("cp1252")
        for entry in journal.split("\r\n"):
            m = re.match(r"^[^;]*;Send=(\d+);(\d+);(-?\d+);(.*)$", entry)
            if m and int(m.group(3)) != 574:  # an open cover: the same line again, by design
                sends.setdefault(m.group(4), []).append(int(m.group(3)))
        twice = [line for line, results in sends.items() if len(results) > 1]
        lost = [n for n in self.dropped
                if not os.path.exists(os.path.join(self.input, n)) and
                not any(os.path.exists(os.path.join(self.input, n[:-4] + ext))
                        for ext in (".OK", ".KO"))]
        left = [n for n in os.listdir(self.input) if n.upper().endswith(".TXT")]
        jobs_without = [k for k in self.jobs if self.answers.get(k, {}).get("state") != "done"]
        jobs_without += [k for k in self.mqtt_jobs if k not in self.mqtt_done]
        print("starts %d (each ended by SIGTERM), HTTP requests %d, files dropped %d, jobs "
              "posted %d, MQTT jobs %d, lines sent %d" % (self.starts, self.requests,
                                                          len(self.dropped), len(self.jobs),
                                                          len(self.mqtt_jobs), len(sends)))
        print("lines sent twice %d, files without a verdict %d, files left %d, jobs without a "
              "verdict %d" % (len(twice), len(lost), len(left), len(jobs_without)))
        self.problems += ["sent twice: %s" % l for l in twice[:5]]
        self.problems += ["no verdict: %s" % n for n in lost[:5] + left[:5]]
        self.problems += ["job without a verdict: %s" % k for k in jobs_without[:5]]
        for p in self.problems:
            print("  ", p[:3000])
        return 1 if self.problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    args = parser.parse_args()
    print("seed", args.seed)
    bench = Bench(os.path.abspath(args.program), args.seconds, args.seed)
    status = bench.run()
    if status == 0:
        shutil.rmtree(bench.folder, ignore_errors=True)
    else:
        print("kept in", bench.folder)
    sys.exit(status)


if __name__ == "__main__":
    main()
