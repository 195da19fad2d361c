#!/usr/bin/env python3
"""A cloud point-of-sale program's side of the MQTT link, as small as it can be: it sends one
sale (a command file) to a register with a key, waits for the verdict on a reply topic of its
own, and when none comes in time sends the same sale again with the same key, which never
prints it twice. Needs paho-mqtt (Debian: python3-paho-mqtt).

    pos_client.py --broker mqtts://broker.example:8883 --ca ca.crt --user pos --password-file pw \
        --topic shops/roma-12/cassa1 --key sale-0042 'VEND 1,00' 'TOTALE'

Prints the register's replies (JSON, one per line) and exits 0 when the sale was sent, 1 when
it failed on the register, 2 when no verdict came after every try.
"""
import argparse
import json
import queue
import socket
import ssl
import sys
import urllib.parse
import uuid

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--broker", required=True, help="mqtts://host:8883 or mqtt://host:1883")
    ap.add_argument("--topic", required=True, help="the register's topic root")
    ap.add_argument("--key", default=None, help="the sale's key (default: a new one)")
    ap.add_argument("--ca", help="certificate authorities for the broker (default: the system's)")
    ap.add_argument("--user")
    ap.add_argument("--password-file")
    ap.add_argument("--client-id", default="pos-" + uuid.uuid4().hex[:8])
    ap.add_argument("--timeout", type=float, default=30, help="seconds to wait for a verdict")
    ap.add_argument("--tries", type=int, default=3)
    ap.add_argument("lines", nargs="+", help="the command file's lines")
    args = ap.parse_args()

    url = urllib.parse.urlparse(args.broker if "://" in args.broker else "mqtts://" + args.broker)
    tls = url.scheme == "mqtts"
    key = args.key or "sale-" + uuid.uuid4().hex
    replies_topic = "%s/replies/%s" % (args.topic, args.client_id)
    correlation = key.encode()
    payload = ("\r\n".join(args.lines) + "\r\n").encode("utf-8")

    replies = queue.Queue()
    client = mqtt.Client(client_id=args.client_id, protocol=mqtt.MQTTv5)
    if tls:
        client.tls_set(ca_certs=args.ca, cert_reqs=ssl.CERT_REQUIRED)
    if args.user:
        password = None
        if args.password_file:
            with open(args.password_file) as f:
                password = f.readline().rstrip("\r\n")
        client.username_pw_set(args.user, password)
    client.on_message = lambda c, u, m: replies.put(m)
    # A session kept at the broker: a reply published while this client is away waits for it.
    session = Properties(PacketTypes.CONNECT)
    session.SessionExpiryInterval = 3600
    client.connect(url.hostname, url.port or (8883 if tls else 1883), clean_start=False,
                   properties=session)
    # paho leaves Nagle's algorithm on; a sale is one small message that should not wait.
    sock = client.socket()
    if hasattr(sock, "setsockopt"):
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    client.subscribe(replies_topic, qos=1)
    client.loop_start()

    props = Properties(PacketTypes.PUBLISH)
    props.UserProperty = [("key", key)]
    props.ResponseTopic = replies_topic
    props.CorrelationData = correlation
    props.ContentType = "text/plain; charset=utf-8"
    try:
        for attempt in range(1, args.tries + 1):
            client.publish(args.topic + "/jobs", payload, qos=1, properties=props)
            while True:
                try:
                    m = replies.get(timeout=args.timeout)
                except queue.Empty:
                    print("no verdict in %gs (try %d of %d)%s" % (
                        args.timeout, attempt, args.tries,
                        ", sending it again with the same key" if attempt < args.tries else ""),
                        file=sys.stderr)
                    break
                if getattr(m.properties, "CorrelationData", None) != correlation:
                    continue
                reply = json.loads(m.payload)
                print(json.dumps(reply, ensure_ascii=False))
                if "error" in reply and "id" not in reply:
                    return 1  # refused: sending it again would not help
                if reply.get("state") == "done":
                    return 0 if reply.get("outcome") == "sent" else 1
        return 2
    finally:
        client.loop_stop()
        client.disconnect()


if __name__ == "__main__":
    sys.exit(main())
