#!/usr/bin/env python3
"""Explores crashes of the real program systematically.

Records the file-system operations of a short run (Avvio.txt, four command files of which one
is refused and one read-only, two jobs posted together to the HTTP front with idempotency keys,
Stop.txt)
with strace; then, for every point between two
operations, builds the state that a crash there would leave, starts the program on that state
and checks what it promises:

  * no line of a command file reaches the register twice;
  * every command file ends with a verdict (.OK, or .KO with its copy in the output folder),
    or stays in the input folder, or has its copy in the output folder;
  * a file recorded as sent had every line accepted by the register;
  * no result file, copy or log line is half written;
  * an HTTP job is never sent twice nor lost: the same request again after the restart (same
    key, same body) gets its verdict, and the register's journal agrees with it;
  * so is a job of the MQTT link (with Mosquitto and paho-mqtt at hand): sent again with the
    same key after the restart, it gets its done reply, and the journal agrees.

Two crash models:
  process  the program is killed: every operation before the point is kept.
  power    the machine loses power (ext4, default data=ordered mode; see docs/RELIABILITY.md):
           what was not flushed may be lost, within what ext4 guarantees.

The register is a separate device: its journal and its receipt memory (Simulatore.log,
Simulatore.mem) keep every operation up to the crash in both models.

Crashes during the start-up recovery are explored too: for states that leave a file being
sent, the restart itself is recorded and crashed at each of its operations up to the end of the
recovery.

Usage: scripts/crash-explore.py [--build DIR] [--short] [--keep]
Exit status 0 when no invariant broke.
"""

import argparse
import hashlib
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "e2e"))
from mqtt_broker import AVAILABLE as MQTT, Broker, Pos  # noqa: E402

# How long a run may take is scaled for a loaded machine, as in the tests.
TIME_SCALE = max(1.0, float(os.environ.get("QDS_TEST_TIME_SCALE", "1") or 1))
DEVICE_FILES = {"Simulatore.log", "Simulatore.mem"}
EXE = "QuorinDriverServer"
# Every kind of file in every order that matters, sent in the order of their names: a good file,
# a failed one after it, a good one right after the failed one (the register's number must be
# read again for it), one with a dump, one left in place. The start and stop files are given
# files; the HTTP jobs come with them.
COMMAND_FILES = {
    "A.TXT": [b"A1 SALE", b"A2 SALE", b"A3 TOTAL"],     # good
    "B.TXT": [b"B1 SALE", b"B2 REFUSED", b"B3 TOTAL"],  # failed after a good one
    "C.TXT": [b"C1 SALE", b"C2 SALE", b"C3 TOTAL"],     # good right after a failed one
    "D.TXT": [b"D1 DUMP", b"D2 TOTAL"],                 # a dump in its .OK
    "E.TXT": [b"E1 SALE", b"E2 TOTAL"],                 # left in place
}
# Read-only: sent, but it cannot be deleted (the program does not force it), so it stays in the
# input folder with its verdict and must never be sent again, also after a crash.
READ_ONLY = {"E.TXT"}
# Its .OK may hold the dump of a file that then failed: only there .OK and .KO may lie together.
DUMPS = {"D.TXT"}
# Another instance with a register of its own, on the same input folder: it takes over what a
# killed instance left, and its register's number never decides about the other's file.
OTHER = "other"
SETUP = {
    "ZEZOVURADUR.INI": b"[Parameters]\r\nFrequence=0.05\r\n",
    "Simulatore.ini": b"[Register]\r\nNextReceipt=1\r\n[Rules]\r\n"
                      b"Rule1=^B2 => result 17\r\nRule2=^D1 => dump hello\r\n",
    "Avvio.txt": b"=START\r\n",
    "Stop.txt": b"=END\r\n",
}
# The jobs posted to the HTTP front, once in the recorded run and again after every restart: two
# at the same moment (written together), then one once they have their verdicts (written over
# the first results).
HTTP_TOKEN = "crash-explorer-token-0123456789"
HTTP_WAVES = [{"crash-explorer-sale": [b"H1 SALE", b"H2 TOTAL"],
               "crash-explorer-second": [b"J1 SALE", b"J2 TOTAL"]},
              {"crash-explorer-third": [b"K1 SALE", b"K2 TOTAL"]}]
HTTP_JOBS = {key: lines for wave in HTTP_WAVES for key, lines in wave.items()}
HTTP_ANSWER = ".http-answer.json"
# The jobs that come through the MQTT link (when Mosquitto and paho-mqtt are at hand), sent in
# every run with a correlation of that run's own: what the broker still holds of an earlier run
# is that POS sending again.
MQTT_ROOT = "explore/cassa"
MQTT_JOBS = {"crash-explorer-mqtt-1": [b"Q1 SALE", b"Q2 TOTAL"],
             "crash-explorer-mqtt-2": [b"R1 SALE", b"R2 TOTAL"]}
MQTT_ANSWER = ".mqtt-answer.json"
METADATA = {"create", "unlink", "rename", "mkdir", "rmdir", "link", "truncate"}
RESULT_LINE = re.compile(rb"\d\d/\d\d/\d{4} \d\d:\d\d;Dump=[^\r\n]*\r\n")
KO_LINE = re.compile(rb"^Error=\d+;[^\r\n]*;Row \d+;[^\r\n]*\r\n$")
LOG_LINE = re.compile(rb"^\d\d/\d\d/\d{4} \d\d:\d\d;[A-Za-z]+=[^\r\n]*$")

STRACE_CALLS = ("open,openat,creat,write,pwrite64,writev,lseek,read,pread64,rename,renameat,"
                "renameat2,unlink,unlinkat,mkdir,mkdirat,rmdir,ftruncate,truncate,fsync,"
                "fdatasync,syncfs,link,linkat,close,dup,dup2,dup3,fcntl")


def unescape(s):
    """strace -xx string body to bytes."""
    out = bytearray()
    i = 0
    while i < len(s):
        if s[i] == "\\":
            c = s[i + 1]
            if c == "x":
                out.append(int(s[i + 2:i + 4], 16))
                i += 4
                continue
            out.append({"n": 10, "r": 13, "t": 9, "\\": 92, '"': 34, "0": 0}.get(c, ord(c)))
            i += 2
            continue
        out.append(ord(s[i]))
        i += 1
    return bytes(out)


ARG = re.compile(r'"((?:[^"\\]|\\.)*)"(\.\.\.)?|(-?\d+)<((?:[^>\\]|\\.)*)>|([^,\[\]{}]+)')


def split_args(text):
    """The top-level arguments of a strace call, strings and fd<path> decoded."""
    args, depth, cur, i = [], 0, "", 0
    in_str = False
    while i < len(text):
        c = text[i]
        if in_str:
            cur += c
            if c == "\\":
                cur += text[i + 1]
                i += 1
            elif c == '"':
                in_str = False
        elif c == '"':
            in_str = True
            cur += c
        elif c in "[{":
            depth += 1
            cur += c
        elif c in "]}":
            depth -= 1
            cur += c
        elif c == "," and depth == 0:
            args.append(cur.strip())
            cur = ""
        else:
            cur += c
        i += 1
    if cur.strip():
        args.append(cur.strip())
    return args


def arg_string(a):
    m = re.match(r'^"((?:[^"\\]|\\.)*)"', a)
    return unescape(m.group(1)) if m else None


def arg_fd(a):
    m = re.match(r"^(-?\d+|AT_FDCWD)(?:<((?:[^>\\]|\\.)*)>)?", a)
    if not m:
        return None, None
    fd = -100 if m.group(1) == "AT_FDCWD" else int(m.group(1))
    return fd, unescape(m.group(2)) if m.group(2) is not None else None


def parse_trace(path, root, initial_names):
    """Turns the strace log into a list of operations on paths under root. Files that existed
    before the run keep the inodes of the snapshot (initial_names)."""
    root = root.encode()
    pending = {}
    calls = []
    line_re = re.compile(r"^(\d+)\s+(.*)$")
    for raw in open(path, encoding="latin-1"):
        raw = raw.rstrip("\n")
        m = line_re.match(raw)
        if not m:
            continue
        pid, rest = m.group(1), m.group(2)
        if rest.endswith("<unfinished ...>"):
            pending[pid] = rest[: -len("<unfinished ...>")].rstrip()
            continue
        r = re.match(r"^<\.\.\. (\w+) resumed>(.*)$", rest)
        if r:
            rest = pending.pop(pid, "") + r.group(2)
        c = re.match(r"^(\w+)\((.*)\)\s+=\s+(-?\d+|\?)", rest)
        if not c:
            continue
        calls.append((c.group(1), split_args(c.group(2)), int(c.group(3)) if c.group(3) != "?" else -1))

    fds = {}  # fd -> [path, position, inode key, append]
    ops = []
    # The inode of a path at recording time is only known as the path it was opened by; the
    # model below follows renames, so an open fd keeps meaning the same file.
    inode_of_path = dict(initial_names)
    next_inode = [0]

    def inode(p, create=False):
        if p not in inode_of_path:
            if not create:
                return None
            next_inode[0] += 1
            inode_of_path[p] = next_inode[0]
        return inode_of_path[p]

    def ours(p):
        return p is not None and (p == root or p.startswith(root + b"/"))

    def resolve(dirfd, p):
        if p.startswith(b"/"):
            return os.path.normpath(p)
        if dirfd == -100:
            return os.path.normpath(root + b"/" + p)
        return os.path.normpath(fds.get(dirfd, [root])[0] + b"/" + p)

    for name, args, ret in calls:
        if name in ("open", "openat", "creat"):
            if ret < 0:
                continue
            if name == "openat":
                dirfd, _ = arg_fd(args[0])
                p, flags = resolve(dirfd, arg_string(args[1])), args[2]
            elif name == "open":
                p, flags = resolve(-100, arg_string(args[0])), args[1]
            else:
                p, flags = resolve(-100, arg_string(args[0])), "O_CREAT|O_WRONLY|O_TRUNC"
            if not ours(p):
                continue
            if "O_DIRECTORY" in flags:
                fds[ret] = [p, 0, None, False]
                continue
            existed = p in inode_of_path
            ino = inode(p, create=True)
            if "O_CREAT" in flags and not existed:
                ops.append({"kind": "create", "path": p, "inode": ino})
            if "O_TRUNC" in flags:
                ops.append({"kind": "truncate", "inode": ino, "size": 0})
            fds[ret] = [p, 0, ino, "O_APPEND" in flags]
        elif name in ("dup", "dup2", "dup3", "fcntl") and ret >= 0:
            fd, _ = arg_fd(args[0])
            if fd in fds and (name != "fcntl" or "F_DUPFD" in args[1]):
                fds[ret] = list(fds[fd])
        elif name == "close":
            fd, _ = arg_fd(args[0])
            fds.pop(fd, None)
        elif name in ("write", "pwrite64", "writev") and ret > 0:
            fd, _ = arg_fd(args[0])
            if fd not in fds or fds[fd][2] is None:
                continue
            if name == "writev":
                data = b"".join(unescape(m) for m in re.findall(r'iov_base="((?:[^"\\]|\\.)*)"', args[1]))
            else:
                data = arg_string(args[1])
            data = data[:ret]
            entry = fds[fd]
            if name == "pwrite64":
                ops.append({"kind": "write", "inode": entry[2], "offset": int(args[3]), "data": data})
            elif entry[3]:
                ops.append({"kind": "write", "inode": entry[2], "offset": None, "data": data})
            else:
                ops.append({"kind": "write", "inode": entry[2], "offset": entry[1], "data": data})
                entry[1] += ret
        elif name == "lseek" and ret >= 0:
            fd, _ = arg_fd(args[0])
            if fd in fds:
                fds[fd][1] = ret
        elif name == "read" and ret > 0:
            fd, _ = arg_fd(args[0])
            if fd in fds:
                fds[fd][1] += ret
        elif name in ("ftruncate",) and ret == 0:
            fd, _ = arg_fd(args[0])
            if fd in fds and fds[fd][2] is not None:
                ops.append({"kind": "truncate", "inode": fds[fd][2], "size": int(args[1])})
        elif name in ("fsync", "fdatasync") and ret == 0:
            fd, _ = arg_fd(args[0])
            if fd in fds:
                ino = fds[fd][2]
                ops.append({"kind": "fsync", "inode": ino, "folder": fds[fd][0] if ino is None else None})
        elif name == "syncfs" and ret == 0:
            ops.append({"kind": "syncfs"})
        elif name in ("rename", "renameat", "renameat2") and ret == 0:
            if name == "rename":
                a, b = resolve(-100, arg_string(args[0])), resolve(-100, arg_string(args[1]))
            else:
                a = resolve(arg_fd(args[0])[0], arg_string(args[1]))
                b = resolve(arg_fd(args[2])[0], arg_string(args[3]))
            if ours(a) or ours(b):
                ino = inode_of_path.pop(a, None)
                if ino is not None:
                    inode_of_path[b] = ino
                ops.append({"kind": "rename", "path": a, "to": b})
        elif name in ("unlink", "unlinkat") and ret == 0:
            p = resolve(-100, arg_string(args[0])) if name == "unlink" else resolve(arg_fd(args[0])[0], arg_string(args[1]))
            if ours(p):
                inode_of_path.pop(p, None)
                ops.append({"kind": "rmdir" if "AT_REMOVEDIR" in "".join(args) else "unlink", "path": p})
        elif name in ("mkdir", "mkdirat") and ret == 0:
            p = resolve(-100, arg_string(args[0])) if name == "mkdir" else resolve(arg_fd(args[0])[0], arg_string(args[1]))
            if ours(p):
                ops.append({"kind": "mkdir", "path": p})
        elif name == "rmdir" and ret == 0:
            p = resolve(-100, arg_string(args[0]))
            if ours(p):
                ops.append({"kind": "rmdir", "path": p})
    return ops


class Tree:
    """A file system image: names to inodes, inodes to bytes."""

    def __init__(self, root):
        self.root = root.encode()
        self.names = {}
        self.data = {}
        self.folders = set()
        self.times = {}  # inode -> modification time (ns) of files from before the run
        self.next_snapshot_inode = -1

    @classmethod
    def snapshot(cls, root):
        t = cls(root)
        for dirpath, dirnames, filenames in os.walk(root.encode()):
            t.folders.add(os.path.normpath(dirpath))
            for f in filenames:
                p = os.path.normpath(os.path.join(dirpath, f))
                if os.path.basename(p) == EXE.encode():
                    continue
                ino = t.next_snapshot_inode
                t.next_snapshot_inode -= 1
                t.names[p] = ino
                with open(p, "rb") as fh:
                    t.data[ino] = bytearray(fh.read())
                t.times[ino] = os.stat(p).st_mtime_ns
        return t

    def copy(self):
        t = Tree(self.root.decode())
        t.names = dict(self.names)
        t.data = {k: bytearray(v) for k, v in self.data.items()}
        t.folders = set(self.folders)
        t.times = self.times
        return t

    def apply(self, op, inode_alias):
        k = op["kind"]
        if k == "create":
            self.names[op["path"]] = op["inode"]
            self.data.setdefault(op["inode"], bytearray())
        elif k == "truncate":
            ino = inode_alias(op["inode"])
            buf = self.data.setdefault(ino, bytearray())
            del buf[op["size"]:]
        elif k == "write":
            ino = inode_alias(op["inode"])
            buf = self.data.setdefault(ino, bytearray())
            off = len(buf) if op["offset"] is None else op["offset"]
            if len(buf) < off:
                buf.extend(b"\0" * (off - len(buf)))
            buf[off:off + len(op["data"])] = op["data"]
        elif k == "rename":
            if op["path"] in self.names:
                self.names[op["to"]] = self.names.pop(op["path"])
        elif k == "unlink":
            self.names.pop(op["path"], None)
        elif k == "mkdir":
            self.folders.add(op["path"])
        elif k == "rmdir":
            self.folders.discard(op["path"])

    def file(self, p):
        ino = self.names.get(p)
        return None if ino is None else bytes(self.data.get(ino, b""))

    def restore_time_of_file_being_sent(self, tb):
        record = os.path.join(tb, b"TOSEND", b"QuorinDriverServer.REC")
        try:
            text = open(record, "rb").read()
        except OSError:
            return
        fields = dict(re.findall(rb"^(Busy|Path|Modified)=([^\r\n]*)", text, re.M))
        if fields.get(b"Busy") not in (b"1", b"2", b"3") or b"Path" not in fields or \
                b"Modified" not in fields:
            return
        path = bytes.fromhex(fields[b"Path"].decode())
        ino = self.names.get(os.path.normpath(path))
        if ino is None or ino in self.times:
            return
        ns = int(fields[b"Modified"]) * 1000000
        try:
            os.utime(tb + path[len(self.root):], ns=(ns, ns))
        except OSError:
            pass

    def write_out(self, target, exe_source):
        tb = target.encode()
        for f in sorted(self.folders, key=len):
            os.makedirs(tb + f[len(self.root):], exist_ok=True)
        for p, ino in self.names.items():
            dest = tb + p[len(self.root):]
            os.makedirs(os.path.dirname(dest), exist_ok=True)
            with open(dest, "wb") as fh:
                fh.write(self.data.get(ino, b""))
            # The recovery knows a command file by its size and time.
            if ino in self.times:
                os.utime(dest, ns=(self.times[ino], self.times[ino]))
            if os.path.basename(dest).decode() in READ_ONLY:
                os.chmod(dest, 0o444)
        os.link(exe_source, os.path.join(target, EXE))
        # A crash keeps every file's time too. Files made during the run (an HTTP job's) have
        # none recorded here: the one being sent gets the time its record names.
        self.restore_time_of_file_being_sent(tb)
        # A crash keeps every file's inode, which the record's Left= lines name; this copy of the
        # state makes new files, so those lines follow them.
        record = os.path.join(tb, b"TOSEND", b"QuorinDriverServer.REC")
        if os.path.exists(record):
            with open(record, "rb") as fh:
                text = fh.read()

            def follow(m):
                path = bytes.fromhex(m.group(4).decode())
                try:
                    inode = os.stat(tb + path[len(self.root):]).st_ino
                except OSError:
                    return m.group(0)
                return b"Left=%s;%s;%d;%s" % (m.group(1), m.group(2), inode, m.group(4))
            with open(record, "wb") as fh:
                fh.write(re.sub(rb"Left=(\d+);(-?\d+);(\d+);([0-9a-f]+)", follow, text))

    def digest(self):
        h = hashlib.sha256()
        for p in sorted(self.names):
            h.update(p + b"\0" + bytes(self.data.get(self.names[p], b"")) + b"\0")
        for f in sorted(self.folders):
            h.update(b"D" + f)
        return h.hexdigest()


def states_for(base, ops, k, model, alias):
    """The file-system images a crash just before ops[k] can leave."""
    if model == "process":
        t = base.copy()
        for op in ops[:k]:
            t.apply(op, alias)
        return [t]
    # Power cut. Metadata operations reach the journal in order: what survives is a prefix
    # of them. A flush of a folder, or of a file whose size or name changed since its last
    # flush, commits the journal: every metadata operation before it survives. A flush of a
    # file makes its data survive. A flush of the whole file system (syncfs) makes everything
    # before it survive. Data not flushed may survive or not (both are tried), an append only
    # together with the earlier appends to its file.
    durable_meta = 0
    synced_at = -1
    flushed_at = {}
    meta_dirty = set()
    sizes = base.copy()
    for i, op in enumerate(ops[:k]):
        if op["kind"] in ("create", "truncate"):
            meta_dirty.add(alias(op["inode"]))
        elif op["kind"] == "write":
            ino = alias(op["inode"])
            size = len(sizes.data.get(ino, b""))
            if op["offset"] is None or op["offset"] + len(op["data"]) > size:
                meta_dirty.add(ino)  # a new size: a journal entry
        elif op["kind"] == "syncfs":
            durable_meta = synced_at = i
            meta_dirty.clear()
        elif op["kind"] == "fsync":
            if op["inode"] is None or alias(op["inode"]) in meta_dirty:
                durable_meta = i
            if op["inode"] is not None:
                ino = alias(op["inode"])
                flushed_at[ino] = i
                meta_dirty.discard(ino)
        sizes.apply(op, alias)
    meta_after = [i for i in range(durable_meta, k) if ops[i]["kind"] in METADATA]
    images = []
    for cut in range(len(meta_after) + 1):
        kept_meta = set(i for i in range(k) if ops[i]["kind"] in METADATA and
                        (i < durable_meta or i in meta_after[:cut]))
        for keep_unflushed in (False, True):
            t = base.copy()
            for i, op in enumerate(ops[:k]):
                if op["kind"] in METADATA:
                    if i in kept_meta:
                        t.apply(op, alias)
                elif op["kind"] == "write":
                    ino = alias(op["inode"])
                    if keep_unflushed or flushed_at.get(ino, -1) > i or synced_at > i:
                        t.apply(op, alias)
            images.append(t)
    return images


def device_state(base, ops, k, alias, root):
    """The register's own files as they were when the crash came."""
    t = base.copy()
    for op in ops[:k]:
        t.apply(op, alias)
    out = {}
    for name in DEVICE_FILES:
        out[name] = t.file(os.path.normpath((root + "/" + name).encode()))
    return out


class Explorer:
    def __init__(self, exe, workdir, short):
        self.exe = exe
        self.workdir = workdir
        self.short = short
        self.tried = 0
        self.broken = []
        self.counter = 0
        self.by_model = {"process": 0, "power": 0, "process+other": 0}

    def env(self, folder):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        env["QT_QPA_PLATFORM"] = "offscreen"
        runtime = os.path.join(folder, ".runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env["XDG_RUNTIME_DIR"] = runtime
        env["LC_ALL"] = "C.UTF-8"
        return env

    def fresh_live_folder(self):
        # Every state runs at the recording's own path: the recovery record names files by
        # their full path.
        shutil.rmtree(self.live, ignore_errors=True)
        return self.live

    def run(self, folder, trace=None, tosend=None, post=True):
        """Runs the program until the input folder is worked through, then SIGTERM."""
        cmd = [os.path.join(folder, EXE)]
        if trace:
            cmd = ["strace", "-f", "-y", "-xx", "-s", "1000000", "-o", trace,
                   "-e", "trace=" + STRACE_CALLS] + cmd
        p = subprocess.Popen(cmd, cwd=folder, env=self.env(folder),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if post:
            self.post_http_jobs(folder, p, (20 if trace else 6) * TIME_SCALE)
            if self.pos:
                self.send_mqtt_jobs(folder, p, (20 if trace else 6) * TIME_SCALE)
        tosend = tosend or os.path.join(folder, "TOSEND")
        deadline = time.time() + (20 if trace else 6) * TIME_SCALE
        started = time.time()
        while time.time() < deadline:
            time.sleep(0.03)
            if p.poll() is not None:
                break
            try:
                names = os.listdir(tosend)
            except OSError:
                continue
            # Worked through: no command file left but a read-only one that has its verdict
            # (it is sent, cannot be deleted, and stays).
            waiting = [n for n in names if n.upper().endswith(".TXT") and
                       not (n in READ_ONLY and (n[:-4] + ".OK" in names or n[:-4] + ".KO" in names))]
            if time.time() - started > 0.3 and not waiting:
                break
        if p.poll() is None:
            # Under strace the program is strace's child.
            target = p.pid
            if trace:
                try:
                    with open("/proc/%d/task/%d/children" % (p.pid, p.pid)) as fh:
                        target = int(fh.read().split()[0])
                except (OSError, IndexError, ValueError):
                    pass
            os.kill(target, signal.SIGTERM)
        try:
            p.wait(20 * TIME_SCALE)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            return "did not end after SIGTERM"
        return None

    def post_http_jobs(self, folder, process, seconds):
        """Posts the HTTP jobs together (waiting for their verdicts) and keeps the answers beside
        the run."""
        answers = {}

        def post(key, lines):
            deadline = time.time() + seconds
            while time.time() < deadline and process.poll() is None and key not in answers:
                try:
                    c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=seconds)
                    c.request("POST", "/v1/files?wait=%d" % max(1, int(seconds)),
                              body=b"".join(l + b"\r\n" for l in lines),
                              headers={"Authorization": "Bearer " + HTTP_TOKEN,
                                       "Content-Type": "text/plain", "Idempotency-Key": key})
                    r = c.getresponse()
                    answers[key] = {"status": r.status, "job": json.loads(r.read() or b"{}")}
                    c.close()
                except (OSError, http.client.HTTPException, ValueError):
                    time.sleep(0.03)

        for wave in HTTP_WAVES:
            posts = [threading.Thread(target=post, args=job) for job in wave.items()]
            for t in posts:
                t.start()
            for t in posts:
                t.join()
        with open(os.path.join(folder, HTTP_ANSWER), "w") as fh:
            json.dump(answers, fh)

    def send_mqtt_jobs(self, folder, process, seconds):
        """Sends the MQTT jobs and waits for their done replies; keeps them beside the run."""
        nonce = uuid.uuid4().hex[:8]
        answers = {}
        for key, lines in MQTT_JOBS.items():
            self.pos.send(MQTT_ROOT + "/jobs", b"".join(l + b"\r\n" for l in lines), key=key,
                          reply_to=MQTT_ROOT + "/replies/pos",
                          correlation=("%s %s" % (nonce, key)).encode())
        deadline = time.time() + seconds
        while len(answers) < len(MQTT_JOBS) and time.time() < deadline and \
                process.poll() is None:
            try:
                m = self.pos.received.get(timeout=0.05)
            except Exception:
                continue
            tag, _, key = (getattr(m.properties, "CorrelationData", b"") or b"").decode() \
                .partition(" ")
            job = json.loads(m.payload)
            if tag == nonce and key in MQTT_JOBS and job.get("state") == "done":
                answers[key] = {"status": 200, "job": job}
        with open(os.path.join(folder, MQTT_ANSWER), "w") as fh:
            json.dump(answers, fh)

    def check_http_jobs(self, folder, sends):
        problems = []
        answers = {}
        for name in (HTTP_ANSWER, MQTT_ANSWER):
            try:
                answers.update(json.load(open(os.path.join(folder, name))))
            except (OSError, ValueError):
                pass
        jobs = dict(HTTP_JOBS, **(MQTT_JOBS if self.pos else {}))
        # A key makes one job, and another only after the one before it was settled as never
        # sent (its command file never reached the input folder): the key is then free again.
        made = dict.fromkeys(jobs, 0)
        key_of, not_sent = {}, dict.fromkeys(jobs, 0)
        journal = os.path.join(folder, "HttpJobs", "jobs.journal")
        if os.path.exists(journal):
            for line in open(journal, "rb").read().split(b"\n")[:-1]:
                try:
                    entry = json.loads(line)
                except ValueError:
                    problems.append("HTTP journal line half written: %r" % line)
                    continue
                if entry.get("op") == "made" and entry.get("key") in made:
                    made[entry["key"]] += 1
                    key_of[entry.get("id")] = entry["key"]
                elif entry.get("op") == "done" and entry.get("notSent") and \
                        entry.get("id") in key_of:
                    not_sent[key_of[entry["id"]]] += 1
        for key, lines in jobs.items():
            for line in lines:
                if len(sends.get(line, [])) > 1:
                    problems.append("job line %s sent %d times" % (line.decode(),
                                                                         len(sends[line])))
            answer = answers.get(key)
            job = (answer or {}).get("job", {})
            if not answer or answer["status"] != 200 or job.get("state") != "done":
                problems.append("the job %s: its retry got no verdict: %r" % (key, answer))
            elif job["outcome"] == "sent":
                for line in lines:
                    if 0 not in sends.get(line, []):
                        problems.append("job recorded as sent without %s" % line.decode())
            if made[key] - not_sent[key] > 1:
                problems.append("the job %s was made %d times (%d never sent)"
                                % (key, made[key], not_sent[key]))
        left = [n for n in os.listdir(os.path.join(folder, "TOSEND"))
                if n.startswith("HTTP-") and n[-3:] in (".OK", ".KO")]
        if left:
            problems.append("HTTP results left in the input folder: %s" % left)
        temporary = [n for n in os.listdir(os.path.join(folder, "TOSEND")) if n.endswith(".tmp")]
        if temporary:
            problems.append("temporary files left in the input folder: %s" % temporary)
        return problems

    def check(self, folder):
        """The invariants, on the folder a finished run left."""
        problems = []
        sends = {}
        # Both registers' journals: a line sent to each is sent twice.
        for journal_path in (os.path.join(folder, "Simulatore.log"),
                             os.path.join(folder, OTHER, "Simulatore.log")):
            if not os.path.exists(journal_path):
                continue
            for entry in open(journal_path, "rb").read().split(b"\r\n"):
                m = re.match(rb"^[^;]*;Send=(\d+);(\d+);(-?\d+);(.*)$", entry)
                if m:
                    sends.setdefault(m.group(4), []).append(int(m.group(3)))
        tosend = os.path.join(folder, "TOSEND")
        unsent = os.path.join(folder, "UNSENT")
        copies = os.listdir(unsent) if os.path.isdir(unsent) else []
        for name, lines in COMMAND_FILES.items():
            content = b"".join(l + b"\r\n" for l in lines)
            for line in lines:
                if len(sends.get(line, [])) > 1:
                    problems.append("%s sent %d times" % (line.decode(), len(sends[line])))
            base = os.path.join(tosend, name[:-4])
            ok, ko = base + ".OK", base + ".KO"
            file_copies = [c for c in copies if c.endswith(name) and not c.endswith(".tmp")]
            for c in file_copies:
                if open(os.path.join(unsent, c), "rb").read() != content:
                    problems.append("copy %s is not the file" % c)
            # One verdict for one file: a .KO beside an .OK only for a file whose dump was
            # written before it failed, and never a copy of a file that was sent.
            # A 553 naming one of the file's own lines is the honest "a person decides" for a
            # line the register took just before the kill, before the record could say so.
            every_line = all(0 in sends.get(line, []) for line in lines)
            uncertain = False
            if os.path.exists(ko):
                m = re.match(rb"Error=553;[^;]*;Row (\d+);", open(ko, "rb").read())
                uncertain = bool(m) and 1 <= int(m.group(1)) <= len(lines)
            if os.path.exists(ok) and os.path.exists(ko) and \
                    (name not in DUMPS or (every_line and not uncertain)):
                problems.append("%s has both an .OK and a .KO" % name)
            if file_copies and os.path.exists(ok) and not os.path.exists(ko):
                problems.append("%s has an .OK and a copy in the output folder" % name)
            if os.path.exists(os.path.join(tosend, name)):
                if open(os.path.join(tosend, name), "rb").read() != content:
                    problems.append("%s changed in the input folder" % name)
                continue
            if os.path.exists(ko):
                text = open(ko, "rb").read()
                if not KO_LINE.match(text):
                    problems.append("%s half written: %r" % (ko, text))
                if not file_copies:
                    problems.append("%s failed without its copy" % name)
            elif os.path.exists(ok):
                text = open(ok, "rb").read()
                pos = 0
                while pos < len(text):
                    m = RESULT_LINE.match(text, pos)
                    if not m:
                        problems.append("%s half written: %r" % (ok, text))
                        break
                    pos = m.end()
                for line in lines:
                    if 0 not in sends.get(line, []):
                        problems.append("%s recorded as sent without %s" % (name, line.decode()))
            elif not file_copies:
                problems.append("%s gone without a verdict or a copy" % name)
        problems += self.check_http_jobs(folder, sends)
        log = os.path.join(tosend, "QuorinDriverServer.LOG")
        if os.path.exists(log):
            data = open(log, "rb").read()
            if data and not data.endswith(b"\r\n"):
                problems.append("log line half written")
            for entry in data.split(b"\r\n")[:-1]:
                if not LOG_LINE.match(entry):
                    problems.append("log line half written: %r" % entry)
        return problems

    def run_other(self, folder):
        """The instance of another program folder, with its own register, on this input folder
        (no HTTP front: the jobs' retries come when the first instance is back)."""
        other = os.path.join(folder, OTHER)
        os.makedirs(other, exist_ok=True)
        with open(os.path.join(other, "ZEZOVURADUR.INI"), "wb") as fh:
            fh.write(b"[Parameters]\r\nFrequence=0.05\r\nDirectoryInput=%s\r\n"
                     b"DirectoryOutput=%s\r\n" % (os.path.join(folder, "TOSEND/").encode(),
                                                 os.path.join(folder, "UNSENT/").encode()))
        with open(os.path.join(other, "Simulatore.ini"), "wb") as fh:
            fh.write(SETUP["Simulatore.ini"].replace(b"NextReceipt=1", b"NextReceipt=500"))
        if not os.path.exists(os.path.join(other, EXE)):
            os.link(self.exe_source, os.path.join(other, EXE))
        return self.run(other, tosend=os.path.join(folder, "TOSEND"), post=False)

    def try_state(self, image, device, model, label, other=False):
        digest = (model, other, image.digest(),
                  tuple(sorted((k, v or b"") for k, v in device.items())))
        if digest in self.seen:
            return None
        self.seen.add(digest)
        folder = self.fresh_live_folder()
        image.write_out(folder, self.exe_source)
        for name, content in device.items():
            path = os.path.join(folder, name)
            if content is None:
                if os.path.exists(path):
                    os.remove(path)
            else:
                with open(path, "wb") as fh:
                    fh.write(content)
        failure = None
        if other:
            # The other instance takes the folder over first; then this one comes back.
            failure = self.run_other(folder)
        failure = failure or self.run(folder)
        problems = ([failure] if failure else []) + self.check(folder)
        self.tried += 1
        self.by_model[model + ("+other" if other else "")] += 1
        if problems:
            kept = os.path.join(self.workdir, "broken%03d" % len(self.broken))
            shutil.copytree(folder, kept, symlinks=True)
            self.broken.append((label, model, kept, problems))
        return folder

    def explore(self, root, ops, base, alias, label, stop_at=None, nested=False):
        end = len(ops) if stop_at is None else stop_at
        points = list(range(end + 1))
        if self.short:
            points = points[:: max(1, len(points) // 12)]
        recovery_candidates = []
        for k in points:
            device = device_state(base, ops, k, alias, root)
            for model in ("process", "power"):
                for image in states_for(base, ops, k, model, alias):
                    rec = image.file(os.path.normpath((root + "/TOSEND/QuorinDriverServer.REC").encode()))
                    before = image
                    folder = self.try_state(image, device, model, "%s@%d" % (label, k))
                    busy = rec and re.match(rb"Busy=[123]", rec)
                    if folder and not nested and busy:
                        recovery_candidates.append((k, model, before, device))
                    # A kill in the middle of a file, taken over by the other register's instance
                    # (a power cut is left out: see docs/RELIABILITY.md).
                    if busy and model == "process" and not nested:
                        self.try_state(image, device, model, "%s@%d+other" % (label, k), True)
        return recovery_candidates

    def main(self, keep):
        self.keep = keep
        self.seen = set()
        self.broker = self.pos = None
        if MQTT:
            self.broker = Broker(tls=False, auth=False, log=False).start()
            self.pos = Pos(self.broker, client_id="explorer-pos",
                           subscribe=(MQTT_ROOT + "/replies/#",))
        try:
            return self.explore_all()
        finally:
            if self.pos:
                self.pos.close()
            if self.broker:
                self.broker.cleanup()

    def explore_all(self):
        root = self.live = os.path.join(self.workdir, "live")
        os.makedirs(os.path.join(root, "TOSEND"))
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        for name, content in SETUP.items():
            if name == "ZEZOVURADUR.INI":
                content += b"[Http]\r\nListen=%d\r\nToken=%s\r\n" % (self.port,
                                                                        HTTP_TOKEN.encode())
                if self.broker:
                    content += b"[Mqtt]\r\nBroker=%s\r\nTopic=%s\r\n" % (
                        self.broker.url.encode(), MQTT_ROOT.encode())
            with open(os.path.join(root, name), "wb") as fh:
                fh.write(content)
        for name, lines in COMMAND_FILES.items():
            with open(os.path.join(root, "TOSEND", name), "wb") as fh:
                fh.write(b"".join(l + b"\r\n" for l in lines))
            if name in READ_ONLY:
                os.chmod(os.path.join(root, "TOSEND", name), 0o444)
        base = Tree.snapshot(root)
        self.exe_source = os.path.join(self.workdir, EXE)
        shutil.copy(self.exe, self.exe_source)
        os.link(self.exe_source, os.path.join(root, EXE))
        trace = os.path.join(self.workdir, "record.trace")
        failure = self.run(root, trace)
        problems = ([failure] if failure else []) + self.check(root)
        if problems:
            print("the recorded run itself broke an invariant:", problems)
            return 1
        ops = parse_trace(trace, root, base.names)
        alias = lambda ino: ino
        print("recorded run: %d file-system operations, %d flushes of the whole file system "
              "(HTTP jobs written together)" % (len(ops), sum(op["kind"] == "syncfs" for op in ops)))
        candidates = self.explore(root, ops, base, alias, "run")
        # Crashes during the recovery: one restart per distinct state that leaves a file being
        # sent, recorded and crashed in turn.
        picked = {}
        for k, model, image, device in candidates:
            key = image.file(os.path.normpath((root + "/TOSEND/QuorinDriverServer.REC").encode()))
            picked.setdefault(key, (k, model, image, device))
        chosen = list(picked.values())
        if self.short:
            chosen = chosen[:2]
        nested_runs = 0
        for k, model, image, device in chosen:
            nested_runs += 1
            sub = self.fresh_live_folder()
            image.write_out(sub, self.exe_source)
            for name, content in device.items():
                if content is not None:
                    with open(os.path.join(sub, name), "wb") as fh:
                        fh.write(content)
            sub_base = Tree.snapshot(sub)
            sub_trace = os.path.join(self.workdir, "recovery%03d.trace" % nested_runs)
            self.run(sub, sub_trace)
            sub_ops = parse_trace(sub_trace, sub, sub_base.names)
            # Up to the end of the recovery: the record marked as not busy (its busy digit,
            # the only write of one "0" at offset 5).
            end = next((i + 1 for i, op in enumerate(sub_ops) if op["kind"] == "write" and
                        op["offset"] == 5 and op["data"] == b"0"), len(sub_ops))
            self.explore(sub, sub_ops, sub_base, alias, "recovery%d(run@%d,%s)" % (nested_runs, k, model),
                         stop_at=end, nested=True)
        print("crash states tried: %d (process crash %d, power cut %d, process crash taken over "
              "by another register's instance %d), restarts recorded for the recovery: %d"
              % (self.tried, self.by_model["process"], self.by_model["power"],
                 self.by_model["process+other"], nested_runs))
        print("broken invariants: %d" % len(self.broken))
        for label, model, folder, problems in self.broken[:20]:
            print("  %s %s (%s): %s" % (label, model, folder, "; ".join(problems)))
        return 1 if self.broken else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--short", action="store_true", help="a sample of the crash points (CI)")
    parser.add_argument("--keep", action="store_true", help="keep every state's folder")
    args = parser.parse_args()
    exe = os.path.abspath(os.path.join(args.build, "src", EXE))
    if not os.path.exists(exe):
        sys.exit("no program at %s: build first" % exe)
    if not shutil.which("strace"):
        sys.exit("strace is needed (apt-get install strace)")
    if subprocess.run(["strace", "-o", os.devnull, "true"], stderr=subprocess.DEVNULL).returncode:
        sys.exit("strace cannot trace programs here (ptrace is not allowed)")
    workdir = tempfile.mkdtemp(prefix="crash-explore-")
    print("working in", workdir)
    status = Explorer(exe, workdir, args.short).main(args.keep)
    if status == 0 and not args.keep:
        shutil.rmtree(workdir, ignore_errors=True)
    sys.exit(status)


if __name__ == "__main__":
    main()
