#!/usr/bin/env python3
"""What a shop chain's monitoring sees of the real program: /metrics after a mixed run (checked
against /v1/status, the register's journal and promtool), and what systemd hears through
NOTIFY_SOCKET (ready, state lines, watchdog, stopping). Usage: monitoring_test.py
QuorinDriverServer [unittest options]."""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import qds_program
from qds_program import Program, budget


def parse(text):
    samples = {}
    for line in text.splitlines():
        if line and not line.startswith("#"):
            name, value = line.rsplit(" ", 1)
            samples[name] = float(value)
    return samples


class MetricsTest(unittest.TestCase):
    def setUp(self):
        self.program = Program("[Http]\r\nListen={port}\r\n",
                               rules="Rule1=^BAD => result 17\r\n").start()

    def tearDown(self):
        self.program.cleanup()

    def test_the_metrics_agree_with_the_status_and_the_journal(self):
        p = self.program
        self.assertEqual(p.request("GET", "/metrics", token=False)[0], 401)
        self.assertEqual(p.post(b"VEND 1\r\nVEND 2\r\n")[2]["outcome"], "sent")
        self.assertEqual(p.post(b"VEND 3\r\nBAD 4\r\n")[2]["outcome"], "failed")
        with open(os.path.join(p.input, "DROP.TXT.part"), "wb") as f:
            f.write(b"VEND 5\r\n")
        os.rename(os.path.join(p.input, "DROP.TXT.part"), os.path.join(p.input, "DROP.TXT"))
        deadline = time.monotonic() + budget(20)
        while not os.path.exists(os.path.join(p.input, "DROP.OK")):
            self.assertLess(time.monotonic(), deadline, "the dropped file was not sent")
            time.sleep(0.05)
        time.sleep(budget(0.3))

        status, headers, body = p.request("GET", "/metrics")
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "text/plain; version=0.0.4; charset=utf-8")
        text = body.decode()
        m = parse(text)
        self.assertEqual(m['qds_files_total{outcome="sent"}'], 2)
        self.assertEqual(m['qds_files_total{outcome="failed"}'], 1)
        with open(os.path.join(p.folder, "Simulatore.log"), encoding="cp1252") as f:
            results = re.findall(r";Send=\d+;\d;(-?\d+);", f.read())
        self.assertEqual(m["qds_lines_sent_total"], results.count("0"))
        self.assertEqual(m['qds_lines_refused_total{code="17"}'], 1)
        self.assertEqual(m['qds_jobs_made_total{front="http"}'], 2)
        self.assertEqual(m['qds_register_state{state="ready"}'], 1)
        self.assertEqual(sum(v for k, v in m.items() if k.startswith("qds_register_state")), 1)
        live = p.request("GET", "/v1/status")[2]
        self.assertEqual(m["qds_files_waiting"], live["waiting"])
        self.assertEqual(m["qds_last_receipt_number"], live["lastReceipt"]["number"])
        self.assertIn('qds_build_info{version="%s"} 1' % live["version"], text)
        self.assertLess(m["qds_seconds_since_last_file_sent"], budget(10))
        if shutil.which("promtool"):
            check = subprocess.run(["promtool", "check", "metrics"], input=body,
                                   capture_output=True)
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)


class NotifyTest(unittest.TestCase):
    def test_systemd_hears_ready_state_watchdog_and_stopping(self):
        folder = tempfile.mkdtemp(prefix="qds-notify-")
        self.addCleanup(shutil.rmtree, folder, True)
        path = os.path.join(folder, "notify.sock")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        listener.bind(path)
        self.addCleanup(listener.close)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", NOTIFY_SOCKET=path,
                   WATCHDOG_USEC=str(int(budget(0.4) * 1e6)))
        program = subprocess.Popen([qds_program.EXE, "--folder", os.path.join(folder, "p")],
                                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(program.wait)
        self.addCleanup(program.kill)
        heard = []

        def until(message):
            deadline = time.monotonic() + budget(20)
            while not any(message in h for h in heard):
                listener.settimeout(max(0.01, deadline - time.monotonic()))
                try:
                    heard.append(listener.recv(4096).decode())
                except socket.timeout:
                    self.fail("never heard %s: %r" % (message, heard))

        until("READY=1")
        ready = next(h for h in heard if "READY=1" in h)
        self.assertRegex(ready, r"STATUS=\S")
        until("WATCHDOG=1")
        program.send_signal(signal.SIGTERM)
        until("STOPPING=1")
        self.assertEqual(program.wait(budget(30)), 0)


if __name__ == "__main__":
    qds_program.EXE = sys.argv.pop(1)
    unittest.main()
