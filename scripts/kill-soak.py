#!/usr/bin/env python3
"""Random-kill soak: starts the real program again and again and kills it (SIGKILL) at random
moments, start-up and recovery included, while command files arrive, some fail, some are
read-only, and (as root, on a small tmpfs) the input folder turns read-only or its disk fills up.
The built-in register and the simulated register as a driver program take turns, and one start
in four is another instance, from a program folder of its own with a register of its own, on the
same input folder (it takes over what the first left in the middle of a file). At the end
the faults are mended, the program works through what is left, and the journal and the folder
are checked:

- no line sent twice, by one register or by both (every line of every file is unique);
- no command file that left the input folder without its .OK or .KO, no empty .OK beside a .KO;
- no start refused ("already running", status 2) while no instance was alive;
- with Mosquitto and paho-mqtt at hand, jobs also come through the MQTT link of the first
  instance (a point-of-sale program sends each with a key and sends it again with the same key
  until its verdict comes): every job gets its verdict, under one job, its lines sent once.

Usage: scripts/kill-soak.py [--build build] [--kills 1000] [--seed N] [--line-delay 40]
CI runs a short one (--kills 40); the figures in docs/RELIABILITY.md come from a long one.
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "e2e"))
from mqtt_broker import AVAILABLE as MQTT, Broker, Pos  # noqa: E402

MQTT_ROOT = "soak/cassa"
EXE = "QuorinDriverServer"
SIM = "QuorinSimulatedRegister"
SEND = re.compile(r"^.{19}[ ;]Send=(\d+);(\d);(-?\d+);(.*)$")
TIME_SCALE = max(1.0, float(os.environ.get("QDS_TEST_TIME_SCALE", "1") or 1))


class Disk:
    """The input folder on a tmpfs of its own (root only), so that it can fill up and turn
    read-only; elsewhere a plain folder and those faults are left out."""

    def __init__(self, path):
        self.path = path
        os.makedirs(path)
        self.mounted = os.geteuid() == 0 and subprocess.call(
            ["mount", "-t", "tmpfs", "-o", "size=8m", "tmpfs", path],
            stderr=subprocess.DEVNULL) == 0
        self.read_only = False
        self.filler = os.path.join(path, "filler.bin")

    def set_read_only(self, on):
        if self.mounted and on != self.read_only:
            opts = "remount,%s,size=8m" % ("ro" if on else "rw")
            self.read_only = subprocess.call(["mount", "-o", opts, self.path]) == 0 and on

    def fill(self, leave):
        if not self.mounted or self.read_only:
            return
        st = os.statvfs(self.path)
        size = max(0, st.f_bavail * st.f_frsize - leave)
        try:
            with open(self.filler, "ab") as f:
                f.write(b"\0" * size)
        except OSError:
            pass

    def unfill(self):
        if not self.read_only and os.path.exists(self.filler):
            os.remove(self.filler)

    def close(self):
        self.set_read_only(False)
        if self.mounted:
            subprocess.call(["umount", "-l", self.path])


class Soak:
    def __init__(self, args):
        self.args = args
        self.rng = random.Random(args.seed)
        self.work = tempfile.mkdtemp(prefix="qds-kill-soak-")
        self.program = os.path.join(self.work, "program")
        # Another instance with a register of its own (another program folder, other numbers).
        self.other = os.path.join(self.work, "other")
        for folder in (self.program, self.other):
            os.makedirs(folder)
            for name in (EXE, SIM):
                shutil.copy(os.path.join(args.build, "src", name), folder)
        self.disk = Disk(os.path.join(self.work, "in"))
        self.inbox = self.disk.path
        self.runtime = os.path.join(self.work, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.files = {}  # name -> expected lines
        self.verdicts = {}  # name -> the verdicts a point-of-sale program collected
        self.read_only_files = set()
        # files: drops tried; drops_refused: the producer could not write them (a full or
        # read-only disk), so they never existed.
        self.counts = dict(kills=0, at_start=0, in_recovery=0, builtin=0, program=0,
                           refused=0, files=0, drops_refused=0, failing=0, read_only=0,
                           folder_read_only=0, disk_full=0, other=0)
        # Jobs of the MQTT link: key -> lines; their done replies: key -> [(id, outcome)].
        self.jobs, self.replies = {}, {}
        self.counts.update(mqtt_jobs=0, mqtt_retries=0)
        self.broker = self.pos = None
        if MQTT:
            self.broker = Broker(tls=False, auth=False, log=False).start()
            self.pos = Pos(self.broker, client_id="soak-pos", persistent=True,
                           subscribe=(MQTT_ROOT + "/replies/#",))
        for folder, first in ((self.program, 1), (self.other, 50000)):
            with open(os.path.join(folder, "Simulatore.ini"), "wb") as f:
                f.write(b"[Register]\r\nLineDelay=%d\r\nNextReceipt=%d\r\n[Rules]\r\n"
                        b"Rule1=BAD => result 17\r\n" % (args.line_delay, first))
            for name in ("Avvio.txt", "Stop.txt"):
                open(os.path.join(folder, name), "wb").close()

    def settings(self, driver_program, folder=None):
        text = "[Parameters]\r\nFrequence=0.2\r\nDirectoryInput=%s\r\nDirectoryOutput=%s\r\n" % (
            self.inbox, os.path.join(self.work, "out"))
        if driver_program:
            text += "[Driver]\r\nProgram=%s\r\nStartTimeout=%d\r\n" % (SIM, 30 * TIME_SCALE)
        # Only the first instance has the link: a topic is one register's.
        if self.broker and (folder or self.program) == self.program:
            text += "[Mqtt]\r\nBroker=%s\r\nTopic=%s\r\n" % (self.broker.url, MQTT_ROOT)
        with open(os.path.join(folder or self.program, "ZEZOVURADUR.INI"), "w") as f:
            f.write(text)

    def start(self, folder=None):
        folder = folder or self.program
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, LC_ALL="C.UTF-8")
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        return subprocess.Popen([os.path.join(folder, EXE)], cwd=folder, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def record_busy(self):
        try:
            with open(os.path.join(self.inbox, EXE + ".REC"), "rb") as f:
                return f.read(8).startswith(b"Busy=1")
        except OSError:
            return False

    def journal_size(self):
        size = 0
        for folder in (self.program, self.other):
            try:
                size += os.path.getsize(os.path.join(folder, "Simulatore.log"))
            except OSError:
                pass
        return size

    def drop(self):
        for _ in range(self.rng.randint(0, 3)):
            n = self.counts["files"]
            self.counts["files"] += 1
            name = "F%05d.TXT" % n
            lines = ["F%05d-L%d" % (n, row) for row in range(1, self.rng.randint(1, 6) + 1)]
            if self.rng.random() < 0.15:
                lines[self.rng.randrange(len(lines))] += " BAD"
                self.counts["failing"] += 1
            path = os.path.join(self.inbox, name)
            try:
                # Written beside and renamed in, as a careful producer does.
                with open(path + ".part", "w") as f:
                    f.write("\r\n".join(lines) + "\r\n")
                os.rename(path + ".part", path)
            except OSError:
                self.counts["drops_refused"] += 1
                continue  # the disk is full or read-only: the producer fails too
            self.files[name] = lines
            if self.rng.random() < 0.1:
                os.chmod(path, 0o444)
                self.read_only_files.add(name)
                self.counts["read_only"] += 1

    def publish(self, key):
        self.pos.send(MQTT_ROOT + "/jobs", ("\r\n".join(self.jobs[key]) + "\r\n").encode(),
                      key=key, reply_to=MQTT_ROOT + "/replies/pos", correlation=key.encode())

    def post_jobs(self):
        """A point-of-sale program: new jobs, and the ones without a verdict sent again."""
        if not self.pos:
            return
        self.take_replies()
        for key in self.jobs:
            if key not in self.replies and self.rng.random() < 0.3:
                self.counts["mqtt_retries"] += 1
                self.publish(key)
        for _ in range(self.rng.randint(0, 2)):
            n = self.counts["mqtt_jobs"]
            self.counts["mqtt_jobs"] += 1
            key = "soak-M%05d" % n
            lines = ["M%05d-L%d" % (n, row) for row in range(1, self.rng.randint(1, 4) + 1)]
            if self.rng.random() < 0.15:
                lines[self.rng.randrange(len(lines))] += " BAD"
            self.jobs[key] = lines
            self.publish(key)

    def take_replies(self):
        while self.pos and not self.pos.received.empty():
            m = self.pos.received.get()
            body = json.loads(m.payload)
            key = (getattr(m.properties, "CorrelationData", b"") or b"").decode()
            if body.get("state") == "done" and key in self.jobs:
                self.replies.setdefault(key, set()).add((body["id"], body["outcome"]))

    def faults(self):
        if not self.disk.mounted:
            return
        roll = self.rng.random()
        if roll < 0.08:
            self.disk.set_read_only(True)
            self.counts["folder_read_only"] += 1
        elif roll < 0.16:
            self.disk.fill(self.rng.choice([0, 4096, 64 * 1024, 200 * 1024]))
            self.counts["disk_full"] += 1

    def collect(self):
        """What a point-of-sale program does: reads the verdict of each file that left the
        folder and deletes it, so that the small disk does not fill with results."""
        if self.disk.read_only:
            return
        names = set(os.listdir(self.inbox))
        for name in self.files:
            if name in names or name in self.verdicts:
                continue
            base = name[:-4]
            found = [v for v in (base + ".OK", base + ".KO") if v in names]
            if not found:
                continue
            sizes = {v: os.path.getsize(os.path.join(self.inbox, v)) for v in found}
            if base + ".KO" in found:
                with open(os.path.join(self.inbox, base + ".KO"), "rb") as f:
                    sizes["553"] = f.read().startswith(b"Error=553;")
            self.verdicts[name] = sizes
            for v in found:
                os.remove(os.path.join(self.inbox, v))

    def mend(self):
        self.disk.set_read_only(False)
        self.disk.unfill()

    def kill_once(self):
        driver_program = self.counts["kills"] % 2 == 1
        self.counts["program" if driver_program else "builtin"] += 1
        folder = self.other if self.rng.random() < 0.25 else self.program
        self.counts["other"] += folder == self.other
        self.settings(driver_program, folder)
        if self.rng.random() < 0.5:
            self.mend()
        self.collect()
        self.drop()
        self.post_jobs()
        self.faults()
        recovering = self.record_busy()
        journal = self.journal_size()
        p = self.start(folder)
        time.sleep(self.rng.uniform(0, self.args.max_wait))
        if p.poll() is not None:
            if p.returncode == 2:
                self.counts["refused"] += 1
            return
        if self.journal_size() == journal:
            self.counts["at_start"] += 1
        if recovering and self.record_busy():
            self.counts["in_recovery"] += 1
        p.kill()
        p.wait()
        self.counts["kills"] += 1

    def drain(self):
        self.mend()
        self.settings(False)
        p = self.start()
        # Until every file has its verdict, or nothing has moved for a while (a file kept
        # without one is reported below).
        deadline = time.time() + 120 * TIME_SCALE
        quiet_since, journal = time.time(), self.journal_size()
        while time.time() < deadline and time.time() - quiet_since < 5 * TIME_SCALE:
            waiting = [n for n in os.listdir(self.inbox)
                       if n.endswith(".TXT") and not self.has_verdict(n)]
            if not waiting and not self.record_busy():
                break
            if self.journal_size() != journal:
                quiet_since, journal = time.time(), self.journal_size()
            time.sleep(0.2)
        # Every MQTT job its verdict: those without one are sent again, as a POS would.
        deadline = time.time() + 120 * TIME_SCALE
        while self.pos and time.time() < deadline:
            self.take_replies()
            missing = [k for k in self.jobs if k not in self.replies]
            if not missing:
                break
            for key in missing:
                self.counts["mqtt_retries"] += 1
                self.publish(key)
            time.sleep(2 * TIME_SCALE)
        p.send_signal(signal.SIGTERM)
        p.wait(30 * TIME_SCALE)
        if p.returncode == 2:
            self.counts["refused"] += 1

    def check_jobs(self, sent):
        """Each MQTT job: a verdict; one job for its key (another only after a job settled as
        never sent); the lines of a sent job each sent once."""
        lost = sorted(k for k in self.jobs if k not in self.replies)
        second = sorted(k for k, r in self.replies.items()
                        if len({i for i, outcome in r if outcome != "not-sent"}) > 1)
        unsent = sorted(k for k, r in self.replies.items()
                        if any(o == "sent" for _, o in r) and
                        any(sent.get(line, 0) != 1 for line in self.jobs[k]))
        return dict(mqtt_done=len(self.replies), mqtt_lost=len(lost),
                    mqtt_second_job=len(second), mqtt_sent_lines_not_once=len(unsent),
                    mqtt_examples=(lost + second + unsent)[:5])

    def has_verdict(self, name):
        base = os.path.join(self.inbox, name[:-4])
        return os.path.exists(base + ".OK") or os.path.exists(base + ".KO")

    def check(self):
        sent = {}
        for folder in (self.program, self.other):
            journal = os.path.join(folder, "Simulatore.log")
            if not os.path.exists(journal):
                continue
            with open(journal, encoding="cp1252") as f:
                for line in f:
                    m = SEND.match(line.rstrip("\r\n"))
                    if m:
                        sent[m.group(4)] = sent.get(m.group(4), 0) + 1
        twice = sorted(line for line, n in sent.items() if n > 1)
        self.collect()
        left = set(os.listdir(self.inbox))
        no_verdict, empty_ok = [], []
        for name in self.files:
            base = name[:-4]
            ok, ko = base + ".OK", base + ".KO"
            if name not in left and name not in self.verdicts:
                no_verdict.append(name)
            sizes = self.verdicts.get(name, {})
            if sizes.get(ok) == 0 and ko in sizes:
                empty_ok.append(name)
        still = sorted(n for n in left if n.endswith(".TXT"))
        jobs = self.check_jobs(sent) if self.pos else {}
        return dict(jobs, lines_sent=sum(sent.values()), lines_twice=len(twice),
                    files_without_verdict=len(no_verdict), empty_ok_beside_ko=len(empty_ok),
                    files_left=len(still),
                    files_left_without_verdict=len([n for n in still if not self.has_verdict(n)]),
                    verdicts=len(self.verdicts),
                    failed_553=sum(1 for v in self.verdicts.values() if v.get("553")),
                    examples=(twice + no_verdict + empty_ok)[:5])

    def run(self):
        try:
            tries = 0
            while self.counts["kills"] < self.args.kills and tries < 3 * self.args.kills:
                tries += 1
                self.kill_once()
            self.drain()
            result = self.check()
        finally:
            self.disk.close()
            if self.pos:
                self.pos.close()
            if self.broker:
                self.broker.cleanup()
        figures = dict(self.counts, **result)
        figures["tmpfs"] = self.disk.mounted
        print(" ".join("%s=%s" % kv for kv in figures.items()))
        bad = (result["lines_twice"] or result["files_without_verdict"] or
               result.get("mqtt_lost") or result.get("mqtt_second_job") or
               result.get("mqtt_sent_lines_not_once") or
               result["empty_ok_beside_ko"] or self.counts["refused"] or
               self.counts["kills"] < self.args.kills)
        if bad:
            print("FAILED, work folder kept:", self.work)
            return 1
        shutil.rmtree(self.work, ignore_errors=True)
        return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--kills", type=int, default=1000)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--line-delay", type=int, default=40, help="ms each line takes")
    ap.add_argument("--max-wait", type=float, default=1.5, help="longest run before a kill (s)")
    args = ap.parse_args()
    if args.seed is None:
        args.seed = random.randrange(1 << 30)
    print("seed", args.seed, flush=True)
    return Soak(args).run()


if __name__ == "__main__":
    sys.exit(main())
