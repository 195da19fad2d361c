#!/usr/bin/env python3
"""The MQTT link of the real program on a real Mosquitto (TLS, passwords, ACL, persistence):
jobs printed once with their replies, keys, kills between a message's arrival, the journal and
its acknowledgement, the broker going away, the Will, the status, and what is refused. Usage:
mqtt_link_test.py QuorinDriverServer [unittest options]."""
import json
import os
import re
import signal
import subprocess
import sys
import time
import unittest

import qds_program
from mqtt_broker import USERS, Broker, Pos, budget, correlation_of
from qds_program import Program

ROOT = "shops/s1/c1"
REPLIES = ROOT + "/replies/pos-test"
CLIENT = ROOT.replace("/", "-")  # the client id the program makes of its topic


def body(message):
    return json.loads(message.payload)


class LinkTest(unittest.TestCase):
    def setUp(self):
        # A broker of its own for each test: sessions and retained messages start empty.
        self.broker = Broker().start()
        # Whichever broker and client the test holds at its end: some tests make new ones.
        self.addCleanup(lambda: self.broker.cleanup())
        self.programs = []
        self.pos = Pos(self.broker, subscribe=(ROOT + "/#",))
        self.addCleanup(lambda: self.pos.close())

    def tearDown(self):
        for p in self.programs:
            p.cleanup()

    def program(self, extra="", rules="Rule1=^BAD => result 17\r\nRule2=^SLOW => delay 1500\r\n",
                env=None, root=ROOT, user="qds1", start=True, **settings):
        p = Program("", rules=rules)
        with open(os.path.join(p.folder, "ZEZOVURADUR.INI"), "a") as f:
            f.write(self.broker.settings(user, root, p.folder, extra, **settings))
        self.programs.append(p)
        if start:
            self.start(p, env)
        return p

    def start(self, p, env=None, connects=True):
        saved = dict(os.environ)
        os.environ.update(env or {})
        try:
            p.start(expect_front=False)
        finally:
            os.environ.clear()
            os.environ.update(saved)
        if connects:
            self.wait_for(lambda: " is up" in p.stderr(), "the link to connect")
        return p

    def with_http(self):
        """A program with the HTTP front too, ready for p.request()."""
        p = self.program(extra="[Http]\r\nListen=%d\r\n" % qds_program.free_port())
        with open(os.path.join(p.folder, "QuorinDriverServer.token")) as f:
            p.token = f.read().strip()
        with open(os.path.join(p.folder, "ZEZOVURADUR.INI")) as f:
            p.port = int(re.search(r"Listen=(\d+)", f.read()).group(1))
        return p

    def wait_for(self, condition, what, seconds=20):
        deadline = time.monotonic() + budget(seconds)
        while not condition():
            self.assertLess(time.monotonic(), deadline, "waited in vain for " + what)
            time.sleep(0.05)

    def job(self, payload, key, correlation=b"c-1", **kw):
        self.pos.send(ROOT + "/jobs", payload, key=key, reply_to=REPLIES, correlation=correlation,
                      **kw)

    def reply(self, correlation, state=None, seconds=20):
        m = self.pos.next(REPLIES, seconds, lambda m: correlation_of(m) == correlation and (
            state is None or body(m).get("state") == state))
        return body(m)

    def test_a_job_is_printed_once_and_told_when_kept_and_when_done(self):
        p = self.program()
        self.job(b"VEND 1\r\nVEND 2\r\n", "sale-1", b"c-sale-1")
        waiting = self.reply(b"c-sale-1")
        self.assertIn(waiting["state"], ("waiting", "sending"))
        done = self.reply(b"c-sale-1", "done")
        self.assertEqual((done["id"], done["outcome"]), (waiting["id"], "sent"))
        self.assertIsInstance(done["receipt"], int)
        self.assertEqual(p.journal_sends("VEND 2"), 1)

        self.job("VEND 3\r\nBAD caffè\r\n".encode("utf-8"), "sale-2", b"c-sale-2",
                 content_type="text/plain; charset=utf-8")
        failed = self.reply(b"c-sale-2", "done")
        self.assertEqual(failed["outcome"], "failed")
        self.assertEqual((failed["error"]["code"], failed["error"]["row"]), (17, 2))
        self.assertEqual(failed["error"]["line"], "BAD caffè")

        # No Response Topic: the replies go to R/verdicts.
        self.pos.send(ROOT + "/jobs", b"VEND 4\r\n", key="sale-3")
        m = self.pos.next(ROOT + "/verdicts", where=lambda m: body(m).get("state") == "done")
        self.assertEqual(body(m)["outcome"], "sent")

    def test_a_key_is_one_job_whatever_brings_it_again(self):
        p = self.with_http()
        self.job(b"VEND KEY\r\n", "k-1", b"first")
        first = self.reply(b"first", "done")
        # The POS retries (another correlation): the job as it stands, never a second print.
        self.job(b"VEND KEY\r\n", "k-1", b"retry")
        again = self.reply(b"retry")
        self.assertEqual((again["id"], again["state"], again["receipt"]),
                         (first["id"], "done", first["receipt"]))
        # The same key with another file: refused, naming the key.
        self.job(b"VEND OTHER\r\n", "k-1", b"other")
        other = self.reply(b"other")
        self.assertEqual(other["key"], "k-1")
        self.assertIn("k-1", other["error"]["text"])
        # The HTTP front knows the key too.
        status, _, posted = p.post(b"VEND KEY\r\n", key="k-1")
        self.assertEqual((status, posted["id"]), (200, first["id"]))
        # Sent while the job waits: its verdict comes to this reply topic as well.
        self.job(b"SLOW 1\r\n", "k-2", b"slow-a")
        self.reply(b"slow-a")
        self.job(b"SLOW 1\r\n", "k-2", b"slow-b")
        self.assertEqual(self.reply(b"slow-b", "done")["outcome"], "sent")
        # Two at once (often read together, one following the other): both told its verdict.
        self.job(b"SLOW 3\r\n", "k-3", b"pair-a")
        self.job(b"SLOW 3\r\n", "k-3", b"pair-b")
        ids = {}
        while len(ids) < 2:
            m = self.pos.next(REPLIES, where=lambda m: correlation_of(m) in (b"pair-a", b"pair-b")
                              and body(m).get("state") == "done")
            ids[correlation_of(m)] = body(m)["id"]
        self.assertEqual(ids[b"pair-a"], ids[b"pair-b"])
        time.sleep(budget(0.5))
        self.assertEqual((p.journal_sends("VEND KEY"), p.journal_sends("SLOW 1"),
                          p.journal_sends("SLOW 3")), (1, 1, 1))

    def test_killed_between_arrival_journal_and_acknowledgement_it_prints_once(self):
        for moment in ("arrived", "journaled"):
            with self.subTest(moment=moment):
                p = self.program(env={"QDS_MQTT_KILL_AT": moment})
                key = "kill-" + moment
                self.job(("VEND %s\r\n" % key).encode(), key, key.encode())
                p.process.wait(timeout=budget(20))
                self.assertEqual(p.process.returncode, -signal.SIGKILL)
                self.assertEqual(self.pos.next(ROOT + "/online",
                                               where=lambda m: m.payload == b"false").payload,
                                 b"false")
                # The broker's own log: the job went to the program, which never acknowledged it
                # ...
                sent = re.findall(r"Sending PUBLISH to %s \(d0, q1, r0, m(\d+), '%s/jobs'"
                                  % (CLIENT, ROOT), self.broker.log())
                self.assertEqual(len(sent), 1, self.broker.log())
                self.assertNotIn("Received PUBACK from %s (Mid: %s," % (CLIENT, sent[0]),
                                 self.broker.log())
                self.start(p)
                done = self.reply(key.encode(), "done")
                self.assertEqual(done["outcome"], "sent")
                # ... so it delivered it again after the restart (DUP), and that was taken.
                log = self.broker.log()
                self.assertIn("Sending PUBLISH to %s (d1, q1, r0, m%s, '%s/jobs'"
                              % (CLIENT, sent[0], ROOT), log)
                self.assertIn("Received PUBACK from %s (Mid: %s," % (CLIENT, sent[0]), log)
                time.sleep(budget(0.5))
                self.assertEqual(p.journal_sends("VEND " + key), 1)
                p.cleanup()
                self.programs.remove(p)
                self.broker.cleanup()
                self.broker = Broker().start()
                self.pos.close()
                self.pos = Pos(self.broker, subscribe=(ROOT + "/#",))

    def test_broker_away_mid_job_and_jobs_sent_while_the_program_is_down(self):
        p = self.with_http()
        self.pos.close()
        self.pos = Pos(self.broker, subscribe=(ROOT + "/#",), persistent=True)
        self.job(b"SLOW 2\r\n", "away-1", b"away-1")
        self.reply(b"away-1")
        self.broker.stop()
        self.wait_for(lambda: "MQTT link is down" in p.stderr(), "the link to see the broker go")
        time.sleep(budget(2))  # the verdict comes while the broker is away
        self.assertEqual(p.stderr().count("MQTT link is down"), 1, p.stderr())
        # The link's fault beside the register's state, in the status and the metrics.
        status = p.request("GET", "/v1/status")[2]
        self.assertEqual((status["register"], status["mqtt"]["state"]), ("ready", "offline"))
        # In the program's language (Italian here), as on the window's error line.
        self.assertIn("Collegamento MQTT interrotto: il broker", status["mqtt"]["error"])
        self.assertIn("non è raggiungibile", status["mqtt"]["error"])
        self.assertIn(b"qds_mqtt_link_up 0", p.request("GET", "/metrics")[2])
        self.pos.close()  # its session waits for it at the broker
        self.broker.start()
        self.wait_for(lambda: "works again" in p.stderr(), "the link to come back", 90)
        self.pos = Pos(self.broker, subscribe=(ROOT + "/#",), persistent=True)
        self.assertEqual(self.reply(b"away-1", "done")["outcome"], "sent")
        self.assertEqual(p.request("GET", "/v1/status")[2]["mqtt"], {"state": "connected",
                                                                     "error": None})
        self.assertIn(b'qds_jobs_made_total{front="mqtt"} 1', p.request("GET", "/metrics")[2])

        p.stop()
        self.job(b"VEND WHILE DOWN\r\n", "down-1", b"down-1")
        self.start(p)
        self.assertEqual(self.reply(b"down-1", "done")["outcome"], "sent")
        self.assertEqual(p.journal_sends("SLOW 2") + p.journal_sends("VEND WHILE DOWN"), 2)

    def test_online_the_will_and_the_retained_status(self):
        p = self.program()
        self.job(b"VEND STATUS\r\n", "st-1", b"st-1")
        done = self.reply(b"st-1", "done")
        time.sleep(budget(1))
        late = Pos(self.broker, client_id="pos-late", subscribe=(ROOT + "/status",
                                                                  ROOT + "/online"))
        self.addCleanup(late.close)
        status = json.loads(late.next(ROOT + "/status").payload)
        self.assertEqual(status["lastReceipt"]["number"], done["receipt"])
        self.assertEqual((status["register"], status["mqtt"]["state"]), ("ready", "connected"))
        self.assertEqual(late.next(ROOT + "/online").payload, b"true")
        p.process.send_signal(signal.SIGKILL)
        p.process.wait()
        self.assertEqual(late.next(ROOT + "/online").payload, b"false")
        self.start(p)
        self.assertEqual(late.next(ROOT + "/online").payload, b"true")
        p.stop()  # SIGTERM: said at once, not after the broker's keepalive
        self.assertEqual(late.next(ROOT + "/online", seconds=5).payload, b"false")

    def test_what_is_refused(self):
        self.program(extra="[Http]\r\nMaxBodyKB=1\r\n")
        cases = [
            ("no key", dict(key=None), None, 400),
            ("two keys", dict(key="a", user_properties=[("key", "b")]), None, 400),
            ("a key too long", dict(key="k" * 256), None, 400),
            ("a charset we do not take", dict(key="cs", content_type="text/plain; charset=koi8-r"),
             None, 415),
            ("too big", dict(key="big"), b"VEND 1\r\n" * 200, 413),
            ("not UTF-8", dict(key="bad-utf8", content_type="text/plain; charset=utf-8"),
             b"VEND \xff\r\n", 422),
        ]
        for name, kw, payload, status in cases:
            with self.subTest(name):
                corr = name.encode()
                self.pos.send(ROOT + "/jobs", payload or b"VEND REFUSED\r\n", reply_to=REPLIES,
                              correlation=corr, **kw)
                self.assertEqual(self.reply(corr)["error"]["status"], status)
        # Far over the limit: the broker keeps it from the program (its Maximum Packet Size),
        # which goes on taking jobs.
        self.pos.send(ROOT + "/jobs", b"VEND HUGE\r\n" * 200000, key="huge", reply_to=REPLIES,
                      correlation=b"huge")
        self.job(b"VEND AFTER\r\n", "after-huge", b"after-huge")
        self.assertEqual(self.reply(b"after-huge", "done")["outcome"], "sent")
        time.sleep(budget(0.5))
        self.assertEqual(self.programs[0].journal_sends("VEND REFUSED"), 0)
        self.assertEqual(self.programs[0].journal_sends("VEND HUGE"), 0)

    def test_a_broker_it_cannot_trust_or_that_refuses_it(self):
        cases = [(dict(CaFile=self.broker.other_ca), "not trusted"),
                 (dict(password="not-the-password"), "refused the connection")]
        for settings, said in cases:
            with self.subTest(said):
                p = self.program(start=False, **settings)
                self.start(p, connects=False)
                self.wait_for(lambda: said in p.stderr(), said)
                time.sleep(budget(3))
                said = [l for l in p.stderr().splitlines() if "MQTT link is down" in l]
                self.assertEqual(len(said), 1, "\n".join(said))
                self.assertIsNone(p.process.poll())

    def test_the_example_client_sends_again_with_the_same_key_and_prints_once(self):
        p = self.program()
        p.stop()  # away: the first try gets no verdict in time
        example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "cloud-pos",
                               "pos_client.py")
        with open(os.path.join(self.broker.folder, "pos.password"), "w") as f:
            f.write(USERS["pos"] + "\n")
        client = subprocess.Popen(
            [sys.executable, example, "--broker", self.broker.url, "--ca", self.broker.ca,
             "--user", "pos", "--password-file", os.path.join(self.broker.folder,
                                                              "pos.password"),
             "--topic", ROOT, "--key", "example-1", "--timeout", str(budget(2)),
             "--tries", "20", "VEND EXAMPLE", "TOTALE"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(client.kill)
        self.wait_for(lambda: "no verdict" in client.stderr.readline(), "a try in vain")
        self.start(p)
        out, err = client.communicate(timeout=budget(60))
        self.assertEqual(client.returncode, 0, out + err)
        self.assertEqual(json.loads(out.splitlines()[-1])["outcome"], "sent")
        time.sleep(budget(0.5))
        self.assertEqual(p.journal_sends("VEND EXAMPLE"), 1)

    def test_settings_it_cannot_use_leave_the_link_off_and_the_program_on(self):
        def log(p):
            with open(os.path.join(p.input, "QuorinDriverServer.LOG"), encoding="cp1252") as f:
                return f.read()

        p = self.program(start=False, Topic="shops/+/c1")
        self.start(p, connects=False)
        self.assertIn("the MQTT link stays off: Topic=shops/+/c1", p.stderr())
        self.wait_for(lambda: ";MqttOff=" in log(p), "the log line", 10)
        # Unencrypted only when written so, and then said once, on stderr and in the log.
        p = self.program(start=False, Broker="mqtt://127.0.0.1:%d" % qds_program.free_port(),
                         CaFile="")
        self.start(p, connects=False)
        self.wait_for(lambda: ";MqttPlain=" in log(p), "the warning in the log", 10)
        time.sleep(budget(2))
        self.assertEqual(p.stderr().count("is not encrypted"), 1, p.stderr())
        self.assertEqual(log(p).count(";MqttPlain="), 1)


if __name__ == "__main__":
    qds_program.EXE = sys.argv.pop(1)
    unittest.main()
