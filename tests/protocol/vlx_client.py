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
Numbers accept 0x prefixes.
"""
import argparse
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

STATUS = {0: "done", 1: "refused", 2: "not available", 3: "bad request", 4: "failed", 5: "unknown group"}


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


def card_frame(hexframe):
    frame = bytes.fromhex(hexframe)
    return frame + bytes([bcc(frame)])


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    link = ap.add_mutually_exclusive_group(required=True)
    link.add_argument("--tcp")
    link.add_argument("--udp")
    link.add_argument("--serial")
    ap.add_argument("--timeout", type=float, default=2.0)
    ap.add_argument("--fpga", type=num, default=0)
    ap.add_argument("--dst", type=num, default=None)
    ap.add_argument("command")
    ap.add_argument("args", nargs="*")
    a = ap.parse_args(argv)
    kind = "tcp" if a.tcp else "udp" if a.udp else "serial"
    where = a.tcp or a.udp or a.serial
    dst = a.dst if a.dst is not None else CONTROLLER
    c, args = a.command, a.args
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
    else:
        ap.error("unknown command " + c)
    ln = Link(kind, where, a.timeout)
    try:
        if c == "card":
            ln.send(frame)
            reply = ln.receive()
            result = {"reply": reply.hex() if reply is not None else None}
        else:
            result = ln.request(frame)
    finally:
        ln.close()
    print(json.dumps(result))
    return 0 if result is not None else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
