#!/usr/bin/env python3
"""An example driver program for QuorinDriverServer: a register on a serial line that takes one
command line per line and answers each with one status line.

This is an example to adapt, not a driver for any particular register model. Read your
register's manual, change the tables below, and check the result with scripts/driver-check.sh
against a register kept for tests. Python standard library only (termios).

Use it in ZEZOVURADUR.INI:
    [Driver]
    Program=python3 /path/to/serial_line.py --device /dev/ttyUSB0
Without --device, port N of the settings is /dev/ttyS(N-1). The speed is the BaudRate setting.
"""
import argparse
import json
import os
import select
import sys
import termios
import time

# How the register's status lines map to results: (result, extended result, state to report).
# States: 11 cover open, 12 cover closed, 24 paper out, 26 paper back, 30 busy, 1001 idle.
# 574 with extended result 581 makes the program send the line again once the cover is closed.
REPLIES = {
    "OK": (0, 0, None),
    "COVER": (574, 581, 11),
    "PAPER": (574, 0, 24),
    "BUSY": (572, 0, 30),
}
# "ERR <n>" answers error n (a message id of the program's catalogue), for example "ERR 17".
ERROR_PREFIX = "ERR "
# A reply that fits nothing above.
UNKNOWN_REPLY = 571
# No reply within this many seconds.
REPLY_TIMEOUT = 10.0
NO_REPLY = 572
# An operation this driver does not know (of a later protocol version): "cannot do it".
CANNOT_DO = 571
# The line end the register expects after each command.
LINE_END = b"\r\n"

SPEEDS = {1200: termios.B1200, 2400: termios.B2400, 4800: termios.B4800, 9600: termios.B9600,
          19200: termios.B19200, 38400: termios.B38400, 57600: termios.B57600,
          115200: termios.B115200}


def to_register(text):
    """The register's Windows-1252 bytes of a protocol string (U+0081, U+008D, U+008F, U+0090
    and U+009D stand for the bytes Windows-1252 leaves undefined)."""
    out = bytearray()
    for ch in text:
        if ch in "\x81\x8d\x8f\x90\x9d":
            out.append(ord(ch))
        else:
            out += ch.encode("cp1252", errors="replace")
    return bytes(out)


def from_register(data):
    out = []
    for byte in data:
        out.append(chr(byte) if byte in (0x81, 0x8D, 0x8F, 0x90, 0x9D)
                   else bytes([byte]).decode("cp1252"))
    return "".join(out)


class SerialLine:
    def __init__(self, device, speed):
        self.fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        attrs = termios.tcgetattr(self.fd)
        attrs[0] = 0                                                  # iflag: raw
        attrs[1] = 0                                                  # oflag: raw
        attrs[2] = termios.CS8 | termios.CREAD | termios.CLOCAL      # cflag: 8N1
        attrs[3] = 0                                                  # lflag: no echo
        attrs[4] = attrs[5] = SPEEDS[speed]
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        termios.tcflush(self.fd, termios.TCIOFLUSH)
        self.pending = b""

    def close(self):
        os.close(self.fd)

    def command(self, line):
        """Sends one line; the register's reply line, or None without one in time."""
        os.write(self.fd, to_register(line) + LINE_END)
        deadline = time.monotonic() + REPLY_TIMEOUT
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                return None
            self.pending += os.read(self.fd, 4096)
        reply, self.pending = self.pending.split(b"\n", 1)
        return from_register(reply.rstrip(b"\r"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--device", help="serial device for every port (else /dev/ttyS<N-1>)")
    args = parser.parse_args()

    def send(obj):
        sys.stdout.write(json.dumps(obj) + "\n")
        sys.stdout.flush()

    line = None
    extended = 0
    send({"protocol": "quorin-driver", "version": 1})
    for raw in sys.stdin:
        request = json.loads(raw)
        op, answer = request["op"], {"id": request["id"], "result": 0}
        if op == "OpenPort":
            try:
                speed = int(request["speed"])
                device = args.device or "/dev/ttyS%d" % (int(request["port"]) - 1)
                if line:
                    line.close()
                line = SerialLine(device, speed)
            except (ValueError, KeyError, OSError) as e:
                print("cannot open the port: %s" % e, file=sys.stderr)
                line, answer["result"] = None, 203  # "Errore porta seriale"
        elif op == "ClosePort":
            if line:
                line.close()
            line = None
        elif op in ("SendCommand", "SendQuery"):
            if line is None:
                answer["result"] = 561  # the port is not open
            else:
                reply = line.command(request["line" if op == "SendCommand" else "query"])
                if op == "SendQuery":
                    answer["result"] = NO_REPLY if reply is None else 0
                    answer["answer"] = reply or ""
                elif reply is None:
                    answer["result"], extended = NO_REPLY, 0
                elif reply.startswith(ERROR_PREFIX) and reply[len(ERROR_PREFIX):].isdigit():
                    answer["result"], extended = int(reply[len(ERROR_PREFIX):]), 0
                else:
                    result, extended, state = REPLIES.get(reply, (UNKNOWN_REPLY, 0, None))
                    if state is not None:
                        send({"event": "StatusUpdate", "status": state})
                    answer["result"] = result
        elif op == "ExtendedResult":
            answer["result"] = extended
        elif op != "PreOpenFlag":
            answer["result"] = CANNOT_DO  # an operation of a later protocol version
        send(answer)
    if line:
        line.close()


if __name__ == "__main__":
    main()
