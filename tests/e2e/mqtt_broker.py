"""A real Mosquitto for the tests and benchmarks: TLS with certificates made here by openssl,
passwords, an ACL in the shape docs/MQTT.md gives, persistence, and a log of every packet.
Also a point-of-sale client (paho-mqtt, MQTT 5) that collects what it receives."""
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

try:
    import paho.mqtt.client as mqtt
    from paho.mqtt.packettypes import PacketTypes
    from paho.mqtt.properties import Properties
except ImportError:  # the soaks and benches then go without MQTT jobs
    mqtt = None

from qds_program import budget, free_port  # noqa: F401 (the tests take budget from here too)

# Whether a broker and a client can be had here.
AVAILABLE = mqtt is not None and shutil.which("mosquitto") is not None
if not AVAILABLE and os.environ.get("QDS_REQUIRE_MQTT") == "1":
    raise SystemExit("QDS_REQUIRE_MQTT=1 but %s cannot be had with %s" % (
        "paho-mqtt" if mqtt is None else "mosquitto", sys.executable))
USERS = {"qds1": "secret-qds1", "qds2": "secret-qds2", "pos": "secret-pos"}


def run(*args, cwd):
    subprocess.run(args, cwd=cwd, check=True, capture_output=True)


def make_ca(folder, name):
    run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes", "-keyout", name + ".key", "-out", name + ".crt", "-days", "2",
        "-subj", "/CN=" + name, cwd=folder)
    return os.path.join(folder, name + ".crt")


def make_cert(folder, ca, name, cn, san):
    run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
        "-keyout", name + ".key", "-out", name + ".csr", "-subj", "/CN=" + cn, cwd=folder)
    with open(os.path.join(folder, name + ".ext"), "w") as f:
        f.write("subjectAltName=%s\n" % san)
    run("openssl", "x509", "-req", "-in", name + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
        "-CAcreateserial", "-out", name + ".crt", "-days", "2", "-extfile", name + ".ext",
        cwd=folder)
    return os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".key")


class Broker:
    """Mosquitto on a free port of 127.0.0.1: TLS (mqtts://localhost:port) when tls, else
    plain; users of USERS and the ACL below when auth."""

    def __init__(self, tls=True, auth=True, shops=("shops/s1/c1", "shops/s1/c2"), log=True):
        self.folder = tempfile.mkdtemp(prefix="qds-broker-")
        self.port = free_port()
        self.tls = tls
        self.auth = auth
        self.process = None
        lines = ["per_listener_settings false", "persistence true",
                 "persistence_location %s/" % self.folder, "autosave_interval 1",
                 "log_dest file %s/broker.log" % self.folder,
                 "log_type all" if log else "log_type error",
                 "max_queued_messages 100000", "set_tcp_nodelay true",
                 "listener %d 127.0.0.1" % self.port]
        if os.geteuid() == 0:
            lines.insert(0, "user root")  # else it becomes "mosquitto", who cannot read here
        if tls:
            self.ca = make_ca(self.folder, "ca")
            self.other_ca = make_ca(self.folder, "other-ca")
            cert, key = make_cert(self.folder, "ca", "server", "localhost",
                                  "DNS:localhost,IP:127.0.0.1")
            lines += ["cafile " + self.ca, "certfile " + cert, "keyfile " + key]
        if auth:
            passwd = os.path.join(self.folder, "passwd")
            for i, (user, password) in enumerate(USERS.items()):
                args = ["mosquitto_passwd", "-b"] + (["-c"] if i == 0 else []) + [passwd, user,
                                                                                password]
                subprocess.run(args, check=True, capture_output=True)
            acl = os.path.join(self.folder, "acl")
            with open(acl, "w") as f:
                # Each register reads only its jobs and writes only under its root; the POS
                # writes the jobs of the registers it owns and reads what they say.
                for user, root in (("qds1", shops[0]), ("qds2", shops[1])):
                    f.write("user %s\ntopic read %s/jobs\ntopic write %s/#\n\n" % (user, root,
                                                                                   root))
                f.write("user pos\n")
                for root in shops:
                    f.write("topic write %s/jobs\ntopic read %s/#\n" % (root, root))
            lines += ["allow_anonymous false", "password_file " + passwd, "acl_file " + acl]
        else:
            lines += ["allow_anonymous true"]
        with open(os.path.join(self.folder, "mosquitto.conf"), "w") as f:
            f.write("\n".join(lines) + "\n")

    @property
    def url(self):
        return ("mqtts://localhost:%d" if self.tls else "mqtt://127.0.0.1:%d") % self.port

    def start(self):
        self.process = subprocess.Popen(["mosquitto", "-c",
                                         os.path.join(self.folder, "mosquitto.conf")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + budget(10)
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return self
            except OSError:
                assert self.process.poll() is None, "mosquitto ended: " + self.log()
                time.sleep(0.05)
        raise AssertionError("mosquitto did not listen")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=budget(10))

    def log(self):
        try:
            with open(os.path.join(self.folder, "broker.log"), errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def settings(self, user="qds1", root="shops/s1/c1", program_folder=None, extra="",
                 password=None, **overrides):
        """The [Mqtt] section of a register's program folder (its password file written there);
        overrides replace or add keys."""
        keys = {"Broker": self.url, "Topic": root}
        if self.tls:
            keys["CaFile"] = self.ca
        if self.auth and program_folder:
            path = os.path.join(program_folder, "mqtt.password")
            with open(path, "w") as f:
                f.write((password or USERS[user]) + "\n")
            os.chmod(path, 0o600)
            keys.update(Username=user, PasswordFile=path)
        keys.update(overrides)
        lines = ["[Mqtt]"] + ["%s=%s" % kv for kv in keys.items()]
        return "\r\n".join(lines) + "\r\n" + extra

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)


class Pos:
    """A point-of-sale program on the broker: publishes jobs, collects every message it gets."""

    def __init__(self, broker, client_id="pos-test", user="pos", subscribe=("shops/#",),
                 persistent=False):
        self.received = queue.Queue()
        self.client = mqtt.Client(client_id=client_id, protocol=mqtt.MQTTv5)
        if broker.tls:
            self.client.tls_set(ca_certs=broker.ca)
        if broker.auth:
            self.client.username_pw_set(user, USERS[user])
        self.client.on_message = lambda c, u, m: self.received.put(m)
        subscribed = threading.Event()
        self.client.on_subscribe = lambda *a: subscribed.set()
        connected = threading.Event()
        self.client.on_connect = lambda *a: connected.set()
        session = None
        if persistent:  # what arrives while it is away waits for it
            session = Properties(PacketTypes.CONNECT)
            session.SessionExpiryInterval = 3600
        self.client.connect("localhost" if broker.tls else "127.0.0.1", broker.port,
                            clean_start=not persistent, properties=session)
        self.client.loop_start()
        assert connected.wait(budget(10)), "not connected"
        sock = self.client.socket()
        if sock is not None:  # paho leaves Nagle on: replies would wait for delayed acks
            getattr(sock, "setsockopt", lambda *a: None)(socket.IPPROTO_TCP,
                                                         socket.TCP_NODELAY, 1)
        for topic in subscribe:
            subscribed.clear()
            self.client.subscribe(topic, qos=1)
            assert subscribed.wait(budget(10)), "not subscribed"

    def send(self, topic, payload, key=None, reply_to=None, correlation=None, content_type=None,
             user_properties=None):
        props = Properties(PacketTypes.PUBLISH)
        users = list(user_properties or [])
        if key is not None:
            users.append(("key", key))
        if users:
            props.UserProperty = users
        if reply_to:
            props.ResponseTopic = reply_to
        if correlation is not None:
            props.CorrelationData = correlation
        if content_type:
            props.ContentType = content_type
        info = self.client.publish(topic, payload, qos=1, properties=props)
        info.wait_for_publish(budget(10))

    def next(self, topic, seconds=20, where=lambda m: True):
        """The next message on topic that where() accepts; others on the way are dropped."""
        deadline = time.monotonic() + budget(seconds)
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("nothing on %s" % topic)
            try:
                m = self.received.get(timeout=left)
            except queue.Empty:
                raise AssertionError("nothing on %s" % topic)
            if m.topic == topic and where(m):
                return m

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def correlation_of(message):
    return getattr(message.properties, "CorrelationData", None)
