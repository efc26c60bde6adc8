#!/usr/bin/env python3
"""Client of the controller's control protocol, written from docs/protocol.md.

Usage (prints the reply as JSON):
    vlx_client.py --tcp HOST:PORT  COMMAND [ARGS]
    vlx_client.py --udp HOST:PORT  COMMAND [ARGS]
    vlx_client.py --serial PATH    COMMAND [ARGS]

Commands:
    write-mem ADDRESS HEXDATA          read-mem ADDRESS LENGTH
    write-reg REG MASK VALUE [--fpga N] [--dst ADDR]
    read-reg FIRST COUNT [--fpga N] [--dst ADDR]
    device-info                        set-clock YYYY-MM-DD HH:MM:SS
    raw GROUP HEXPAYLOAD [--dst ADDR]  (any group, e.g. to probe)
    card HEXFRAME                      (a receiving-card frame passed through; checksum added)
    put-file FILE LOCALPATH            get-file FILE LOCALPATH      delete-file CODE/NAME
        FILE is a kind (1..7, with /MODE for kind 6, e.g. 6/3) or CODE/NAME (KVFX/KVFX, KVFR/scan);
        --block N sets the data bytes per frame (default 61440)
    cloud-read ITEM                    cloud-write ITEM TEXT
    at TEXT                            (an AT command to the WiFi port: --udp HOST:13769)
Numbers accept 0x prefixes.
"""
import argparse
import hashlib
import json
import os
import select
import socket
import sys
import termios
import time
import tty

PC = 0xF010
CONTROLLER = 0xF100
SENDING_CARD = 0xF000

PREAMBLE, END, ESCAPE = 0xA5, 0x5A, 0xAA

BLOCK = 61440

STATUS = {0: "done", 1: "refused", 2: "not available", 3: "bad request", 4: "failed", 5: "unknown group",
          6: "digest mismatch"}


def bcc(data):
    x = 0
    for b in data:
        x ^= b
    return x


def build(group, payload=b"", dst=CONTROLLER, src=PC, port=0):
    head = bytes([dst & 0xFF, dst >> 8, src & 0xFF, src >> 8,
                  len(payload) & 0xFF, len(payload) >> 8, 0, port & 0xFF, 0, group])
    frame = head + bytes(payload)
    return frame + bytes([bcc(frame)])


def encode(frame):
    out = bytearray([PREAMBLE] * 3)
    for b in frame:
        if b in (PREAMBLE, END, ESCAPE):
            out += bytes([ESCAPE, b ^ 0x20])
        else:
            out.append(b)
    out.append(END)
    return bytes(out)


class Deframer:
    """Finds line frames in a byte stream and decodes them."""

    def __init__(self):
        self.buf = None
        self.esc = False
        self.bad = False

    def feed(self, data):
        frames = []
        for b in data:
            if b == PREAMBLE:
                self.buf, self.esc, self.bad = bytearray(), False, False
            elif self.buf is None:
                continue
            elif b == END:
                if self.buf and not self.bad and not self.esc:
                    frames.append(bytes(self.buf))
                self.buf = None
            elif self.esc:
                self.esc = False
                v = b ^ 0x20
                if v in (PREAMBLE, END, ESCAPE):
                    self.buf.append(v)
                else:
                    self.bad = True
            elif b == ESCAPE:
                self.esc = True
            else:
                self.buf.append(b)
        return frames


def parse(frame):
    """Splits a decoded frame; raises ValueError on a bad BCC or length."""
    if len(frame) < 11 or bcc(frame[:-1]) != frame[-1]:
        raise ValueError("bad frame")
    n = frame[4] | frame[5] << 8
    if n != len(frame) - 11:
        raise ValueError("length field %d for %d payload bytes" % (n, len(frame) - 11))
    payload = frame[10:-1]
    return {
        "dst": frame[0] | frame[1] << 8,
        "src": frame[2] | frame[3] << 8,
        "port": frame[7],
        "group": frame[9],
        "status": payload[0] if payload else None,
        "status_text": STATUS.get(payload[0], "?") if payload else None,
        "data": payload[1:].hex(),
    }


class Link:
    def __init__(self, kind, where, timeout=2.0):
        self.kind, self.timeout = kind, timeout
        self.deframer = Deframer()
        if kind == "serial":
            self.fd = os.open(where, os.O_RDWR | os.O_NOCTTY)
            tty.setraw(self.fd)
            attrs = termios.tcgetattr(self.fd)
            attrs[3] &= ~termios.ECHO
            termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        else:
            host, port = where.rsplit(":", 1)
            self.addr = (host, int(port))
            if kind == "tcp":
                self.sock = socket.create_connection(self.addr, timeout=timeout)
                self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            else:
                self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)

    def close(self):
        if self.kind == "serial":
            os.close(self.fd)
        else:
            self.sock.close()

    def send(self, frame):
        line = encode(frame)
        if self.kind == "serial":
            os.write(self.fd, line)
        elif self.kind == "tcp":
            self.sock.sendall(line)
        else:
            self.sock.sendto(line, self.addr)

    def receive(self, timeout=None):
        """Next decoded frame, or None after the timeout."""
        deadline = time.monotonic() + (self.timeout if timeout is None else timeout)
        pending = getattr(self, "_pending", [])
        while not pending:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            fd = self.fd if self.kind == "serial" else self.sock
            if not select.select([fd], [], [], left)[0]:
                continue
            if self.kind == "serial":
                data = os.read(self.fd, 65536)
            elif self.kind == "tcp":
                data = self.sock.recv(65536)
                if not data:
                    return None
            else:
                data = self.sock.recvfrom(65536)[0]
            pending = self.deframer.feed(data)
        self._pending = pending[1:]
        return pending[0]

    def request(self, frame, timeout=None):
        self.send(frame)
        reply = self.receive(timeout)
        return parse(reply) if reply is not None else None


def num(text):
    return int(text, 0)


def le16(v):
    return bytes([v & 0xFF, (v >> 8) & 0xFF])


def le32(v):
    return bytes([(v >> (8 * i)) & 0xFF for i in range(4)])


def bcd(v):
    return ((v // 10) << 4) | (v % 10)


def write_mem(address, data):
    return build(0x60, le32(address) + le16(len(data)) + b"\0\0" + data)


def read_mem(address, length):
    return build(0x61, le32(address) + le16(length))


def write_reg(reg, mask, value, dst=CONTROLLER, fpga=0):
    return build(0xA0, le16(reg) + bytes([mask, value]), dst=dst, port=fpga)


def read_reg(first, count, dst=CONTROLLER, fpga=0):
    return build(0xA1, le16(first) + le16(count), dst=dst, port=fpga)


def set_clock(date, clock):
    y, mo, d = (int(x) for x in date.split("-"))
    h, mi, s = (int(x) for x in clock.split(":"))
    return build(0x92, bytes([bcd(y % 100), bcd(y // 100), bcd(mo), bcd(d), bcd(h), bcd(mi), bcd(s)]))


def file_target(text):
    """(write start group, read start group, payload) of a file named on the command line."""
    if "/" in text and not text.split("/")[0].isdigit():
        code, name = text.split("/", 1)
        sel = code.encode()[:4].ljust(4, b"\0") + name.encode()[:4].ljust(4, b"\0")
        return 0xB1, 0xB5, sel
    kind, _, mode = text.partition("/")
    return 0xB0, 0xB4, bytes([num(kind), num(mode) if mode else 0])


def checked(reply, what):
    if reply is None:
        raise SystemExit(json.dumps({"error": what + ": no reply"}))
    if reply["status"] != 0:
        raise SystemExit(json.dumps({"error": what, "status": reply["status"], "status_text": reply["status_text"]}))
    return bytes.fromhex(reply["data"])


def put_file(ln, target, path, block):
    wgroup, _, sel = file_target(target)
    data = open(path, "rb").read()
    checked(ln.request(build(wgroup, sel + le32(len(data)))), "start")
    for off in range(0, len(data), block):
        checked(ln.request(build(0xB2, le32(off) + data[off:off + block])), "block at %d" % off)
    digest = hashlib.md5(data).digest()
    reply = ln.request(build(0xB3, digest), timeout=max(ln.timeout, 30))
    return {"status": reply["status"] if reply else None, "size": len(data), "md5": digest.hex(),
            "data": reply["data"] if reply else ""}


def get_file(ln, target, path, block):
    _, rgroup, sel = file_target(target)
    head = checked(ln.request(build(rgroup, sel)), "start")
    if len(head) < 20:  # size and MD5
        raise SystemExit(json.dumps({"error": "start: the controller's answer holds %d bytes, not the 20 of its "
                                              "size and MD5" % len(head)}))
    size = head[0] | head[1] << 8 | head[2] << 16 | head[3] << 24
    data = b""
    while len(data) < size:
        piece = checked(ln.request(build(0xB6, le32(len(data)) + le16(min(block, 65535)))), "block")
        if not piece:
            break
        data += piece
    checked(ln.request(build(0xB7)), "end")
    with open(path, "wb") as f:
        f.write(data)
    ok = hashlib.md5(data).digest() == head[4:20]
    return {"status": 0 if ok else 6, "size": len(data), "md5": head[4:20].hex(), "data": ""}


def card_frame(hexframe):
    frame = bytes.fromhex(hexframe)
    return frame + bytes([bcc(frame)])


def failure(e, kind, where):
    """What went wrong, in one line, for an error of the link or of a local file."""
    if isinstance(e, ConnectionRefusedError):
        return "%s %s: connection refused (no controller there; VLX_PORT_OFFSET moves its ports)" % (kind, where)
    if isinstance(e, socket.timeout):
        return "%s %s: no answer" % (kind, where)
    if isinstance(e, socket.gaierror):
        return "%s %s: unknown host" % (kind, where)
    if e.filename is not None:
        return "%s: %s" % (e.filename, e.strerror or e)
    return "%s %s: %s" % (kind, where, e.strerror or e)


def link_address(ap, kind, where):
    """(host, port) of --tcp or --udp, or an error naming the option and what is wrong."""
    host, colon, port = where.rpartition(":")
    if not colon or not host or not port:
        ap.error("--%s %s: expected HOST:PORT" % (kind, where))
    try:
        number = int(port, 10)
    except ValueError:
        number = -1
    if not 1 <= number <= 65535:
        ap.error("--%s %s: port %s is not a port number (1 to 65535)" % (kind, where, port))
    return host, number


def no_answer(kind, where, timeout):
    return SystemExit(json.dumps({"error": "%s %s: no answer within %g s (no controller there, or it did not "
                                           "answer this request)" % (kind, where, timeout)}))


# The arguments each command cannot do without, by their names in the usage above.
NEEDS = {
    "write-mem": ["ADDRESS", "HEXDATA"], "read-mem": ["ADDRESS", "LENGTH"],
    "write-reg": ["REG", "MASK", "VALUE"], "read-reg": ["FIRST", "COUNT"], "device-info": [],
    "set-clock": ["YYYY-MM-DD", "HH:MM:SS"], "raw": ["GROUP"], "card": ["HEXFRAME"],
    "put-file": ["FILE", "LOCALPATH"], "get-file": ["FILE", "LOCALPATH"], "delete-file": ["CODE/NAME"],
    "cloud-read": ["ITEM"], "cloud-write": ["ITEM", "TEXT"], "at": ["TEXT"],
}


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    link = ap.add_mutually_exclusive_group(required=True)
    link.add_argument("--tcp")
    link.add_argument("--udp")
    link.add_argument("--serial")
    ap.add_argument("--timeout", type=float, default=2.0)
    ap.add_argument("--fpga", type=num, default=0)
    ap.add_argument("--dst", type=num, default=None)
    ap.add_argument("--block", type=num, default=BLOCK)
    ap.add_argument("command")
    ap.add_argument("args", nargs="*")
    a = ap.parse_args(argv)
    kind = "tcp" if a.tcp else "udp" if a.udp else "serial"
    where = a.tcp or a.udp or a.serial
    if kind != "serial":
        link_address(ap, kind, where)
    dst = a.dst if a.dst is not None else CONTROLLER
    c, args = a.command, a.args
    if c not in NEEDS:
        ap.error("unknown command " + c)
    if len(args) < len(NEEDS[c]):
        ap.error("%s: missing %s (%s %s)" % (c, " ".join(NEEDS[c][len(args):]), c, " ".join(NEEDS[c])))
    try:
        return run(ap, a, c, args, kind, where, dst)
    except OSError as e:
        raise SystemExit(json.dumps({"error": failure(e, kind, where)}))
    except (IndexError, ValueError) as e:
        ap.error("%s: missing or malformed arguments (%s)" % (c, e))


def run(ap, a, c, args, kind, where, dst):
    if c == "write-mem":
        frame = write_mem(num(args[0]), bytes.fromhex(args[1]))
    elif c == "read-mem":
        frame = read_mem(num(args[0]), num(args[1]))
    elif c == "write-reg":
        frame = write_reg(num(args[0]), num(args[1]), num(args[2]), dst, a.fpga)
    elif c == "read-reg":
        frame = read_reg(num(args[0]), num(args[1]), dst, a.fpga)
    elif c == "device-info":
        frame = build(0x93)
    elif c == "set-clock":
        frame = set_clock(args[0], args[1])
    elif c == "raw":
        frame = build(num(args[0]), bytes.fromhex(args[1] if len(args) > 1 else ""), dst=dst, port=a.fpga)
    elif c == "card":
        frame = card_frame(args[0])
    elif c == "delete-file":
        frame = build(0xB8, file_target(args[0])[2])
    elif c == "cloud-read":
        frame = build(0xC4, bytes([0, num(args[0])]))
    elif c == "cloud-write":
        frame = build(0xC4, bytes([1, num(args[0])]) + args[1].encode())
    else:  # put-file, get-file, at: their frames are made below
        frame = None
    if c == "at":
        if kind == "serial":
            ap.error("at: the WiFi port is reached with --udp HOST:PORT")
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.settimeout(a.timeout)
        sock.sendto(args[0].encode(), link_address(ap, kind, where))
        try:
            answer = sock.recv(1024).decode(errors="replace")
        except socket.timeout:
            raise no_answer("udp", where, a.timeout)
        print(json.dumps({"answer": answer}))
        return 0
    ln = Link(kind, where, a.timeout)
    try:
        if c == "put-file":
            result = put_file(ln, args[0], args[1], a.block)
        elif c == "get-file":
            result = get_file(ln, args[0], args[1], a.block)
        elif c == "card":
            ln.send(frame)
            reply = ln.receive()
            result = {"reply": reply.hex() if reply is not None else None}
        else:
            result = ln.request(frame)
    finally:
        ln.close()
    if result is None:
        raise no_answer(kind, where, a.timeout)
    print(json.dumps(result))
    # an answer other than "done" (refused, not available, ...) fails the command as an error does
    return 1 if result.get("status") not in (None, 0) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
