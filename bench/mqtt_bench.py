#!/usr/bin/env python3
"""The MQTT link on a local Mosquitto and the built-in simulated register:

  latency   publish -> done reply received by the POS for a 10-line file, beside the HTTP
            front's POST -> verdict in the same run, taken in turns (goal: median within 2x)
  fleet     50 instances (each its own program folder, headless) on one broker and one POS
            sending 20 jobs to each at once: every job exactly one verdict, each line once in
            its register's journal; the time, the latencies and one instance's memory
  away      one instance while the broker is gone for 10 minutes: the CPU it uses and its
            memory at the start and at the end (no busy reconnection loop)

Usage: mqtt_bench.py PROGRAM [--smoke] [--out results.md]"""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, "..", "tests", "e2e"))
from http_bench import TOKEN, free_port, percentile, ten_lines  # noqa: E402
from mqtt_broker import Broker, Pos  # noqa: E402

import http.client  # noqa: E402


def proc_stat(pid):
    """CPU seconds used and RSS in KB."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    with open("/proc/%d/status" % pid) as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    return (int(fields[11]) + int(fields[12])) / ticks, rss


class Instance:
    def __init__(self, exe, broker, root, http=False):
        self.folder = tempfile.mkdtemp(prefix="qds-mqtt-bench-")
        self.root = root
        self.port = free_port() if http else None
        with open(os.path.join(self.folder, "ZEZOVURADUR.INI"), "w") as f:
            f.write("[Parameters]\r\nFrequence=1\r\nMaxLogDimension=100000\r\n")
            if http:
                f.write("[Http]\r\nListen=%d\r\nToken=%s\r\n" % (self.port, TOKEN))
            f.write("[Mqtt]\r\nBroker=%s\r\nTopic=%s\r\n" % (broker.url, root))
        self.stderr = os.path.join(self.folder, "stderr.txt")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        with open(self.stderr, "w") as err:
            self.process = subprocess.Popen([exe, "--folder", self.folder], env=env,
                                            stdout=subprocess.DEVNULL, stderr=err)

    def up(self):
        with open(self.stderr) as f:
            return " is up" in f.read()

    def sends(self):
        with open(os.path.join(self.folder, "Simulatore.log"), encoding="cp1252") as f:
            return re.findall(r";Send=\d+;\d;\d+;(.*)$", f.read(), re.M)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(60)
            except subprocess.TimeoutExpired:
                self.process.kill()
        shutil.rmtree(self.folder, ignore_errors=True)


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise SystemExit("waited in vain for " + what)
        time.sleep(0.05)


def done_replies(pos, topic, count, seconds):
    """The first done reply of each correlation on topic, with the time it came."""
    got, deadline = {}, time.monotonic() + seconds
    while len(got) < count and time.monotonic() < deadline:
        try:
            m = pos.received.get(timeout=max(0.01, deadline - time.monotonic()))
        except Exception:
            break
        if not m.topic.endswith(topic):
            continue
        body = json.loads(m.payload)
        if body.get("state") == "done":
            corr = m.properties.CorrelationData
            got.setdefault((m.topic, corr), []).append((time.perf_counter(), body))
    return got


def latency(exe, broker, rounds):
    inst = Instance(exe, broker, "shops/bench/latency", http=True)
    pos = Pos(broker, client_id="pos-latency", subscribe=(inst.root + "/replies/#",))
    try:
        wait_until(inst.up, 60, "the link")
        c = http.client.HTTPConnection("127.0.0.1", inst.port, timeout=300)
        headers = {"Authorization": "Bearer " + TOKEN, "Content-Type": "text/plain"}
        http_ms, mqtt_ms = [], []
        for i in range(rounds):
            started = time.perf_counter()
            c.request("POST", "/v1/files?wait=120", body=ten_lines("H%d" % i), headers=headers)
            r = c.getresponse()
            r.read()
            assert r.status == 200, r.status
            http_ms.append((time.perf_counter() - started) * 1000)
            corr = b"m%d" % i
            started = time.perf_counter()
            pos.send(inst.root + "/jobs", ten_lines("M%d" % i), key="lat-%d" % i,
                     reply_to=inst.root + "/replies/pos", correlation=corr)
            pos.next(inst.root + "/replies/pos", 120, lambda m: m.properties.CorrelationData
                     == corr and json.loads(m.payload).get("state") == "done")
            mqtt_ms.append((time.perf_counter() - started) * 1000)
        c.close()
        return http_ms, mqtt_ms
    finally:
        pos.close()
        inst.stop()


def fleet(exe, broker, instances, jobs):
    fleet = [Instance(exe, broker, "shops/bench/c%02d" % n) for n in range(instances)]
    pos = Pos(broker, client_id="pos-fleet", subscribe=("shops/bench/+/replies/pos",))
    try:
        wait_until(lambda: all(i.up() for i in fleet), 300, "every instance's link")
        time.sleep(1)
        rss = max(proc_stat(i.process.pid)[1] for i in fleet)
        started = time.perf_counter()
        sent = {}

        def send(inst):
            for j in range(jobs):
                corr = b"%s-%d" % (inst.root.encode(), j)
                sent[(inst.root + "/replies/pos", corr)] = time.perf_counter()
                pos.send(inst.root + "/jobs", ten_lines("%s J%d" % (inst.root[-3:], j)),
                         key="fleet-%d" % j, reply_to=inst.root + "/replies/pos",
                         correlation=corr)

        threads = [threading.Thread(target=send, args=(i,)) for i in fleet]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        got = done_replies(pos, "/replies/pos", instances * jobs, 900)
        elapsed = time.perf_counter() - started
        twice = sum(1 for v in got.values() if len({b["id"] for _, b in v}) > 1)
        lost = len(sent) - len(got)
        ms = [(v[0][0] - sent[k]) * 1000 for k, v in got.items()]
        lines_twice = lines_lost = 0
        for inst in fleet:
            sends = inst.sends()
            for j in range(jobs):
                for line in ten_lines("%s J%d" % (inst.root[-3:], j)).decode().split("\r\n")[:-1]:
                    n = sends.count(line)
                    lines_twice += n > 1
                    lines_lost += n == 0
        rss_after = max(proc_stat(i.process.pid)[1] for i in fleet)
        return dict(elapsed=elapsed, lost=lost, twice=twice, ms=ms, lines_twice=lines_twice,
                    lines_lost=lines_lost, rss=rss, rss_after=rss_after)
    finally:
        pos.close()
        for inst in fleet:
            inst.stop()


def away(exe, broker, seconds):
    inst = Instance(exe, broker, "shops/bench/away")
    try:
        wait_until(inst.up, 60, "the link")
        time.sleep(2)
        broker.stop()
        time.sleep(2)
        cpu0, rss0 = proc_stat(inst.process.pid)
        samples = [rss0]
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            time.sleep(min(10, seconds / 10))
            samples.append(proc_stat(inst.process.pid)[1])
        cpu1, rss1 = proc_stat(inst.process.pid)
        with open(inst.stderr) as f:
            said = f.read().count("MQTT link is down")
        broker.start()
        return dict(cpu=cpu1 - cpu0, rss0=rss0, rss1=rss1, rss_max=max(samples), said=said)
    finally:
        inst.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--smoke", action="store_true")
    parser.add_argument("--out")
    parser.add_argument("--part", choices=["latency", "fleet", "away"], action="append")
    args = parser.parse_args()
    rounds, instances, jobs, away_s = (10, 5, 4, 20) if args.smoke else (100, 50, 20, 600)
    parts = args.part or ["latency", "fleet", "away"]
    broker = Broker(tls=False, auth=False, log=False).start()
    rows = ["| Figure | Value |", "|---|---|"]
    try:
        if "latency" in parts:
            http_ms, mqtt_ms = latency(args.program, broker, rounds)
            rows += [
                "| HTTP POST -> verdict, 10 lines: median / 99th percentile | %.2f / %.2f ms |"
                % (statistics.median(http_ms), percentile(http_ms, 99)),
                "| MQTT publish -> done reply, 10 lines, in turns with it | %.2f / %.2f ms |"
                % (statistics.median(mqtt_ms), percentile(mqtt_ms, 99)),
                "| Ratio of the medians, MQTT / HTTP (goal <= 2) | %.2f |"
                % (statistics.median(mqtt_ms) / statistics.median(http_ms)),
            ]
        if "fleet" in parts:
            f = fleet(args.program, broker, instances, jobs)
            rows += [
                "| Fleet: %d instances x %d jobs sent at once: all verdicts in | %.1f s |"
                % (instances, jobs, f["elapsed"]),
                "| ... jobs without a verdict / with two / lines twice / lines lost | "
                "%d / %d / %d / %d |" % (f["lost"], f["twice"], f["lines_twice"],
                                         f["lines_lost"]),
                "| ... publish -> done reply: median / 99th percentile | %.0f / %.0f ms |"
                % (statistics.median(f["ms"]), percentile(f["ms"], 99)) if f["ms"] else
                "| ... latency | none |",
                "| ... RSS of the largest instance, idle / after | %.1f / %.1f MB |"
                % (f["rss"] / 1024, f["rss_after"] / 1024),
            ]
        if "away" in parts:
            a = away(args.program, broker, away_s)
            rows += [
                "| Broker gone for %d s: CPU used by the instance meanwhile | %.2f s (%.3f %%) |"
                % (away_s, a["cpu"], 100 * a["cpu"] / away_s),
                "| ... RSS at the start / the end / its highest | %.1f / %.1f / %.1f MB |"
                % (a["rss0"] / 1024, a["rss1"] / 1024, a["rss_max"] / 1024),
                "| ... lines on standard error saying the link is down | %d |" % a["said"],
            ]
    finally:
        broker.cleanup()
    text = "\n".join(rows) + "\n"
    print(text)
    if args.out:
        with open(args.out, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
