#!/usr/bin/env python3
"""Operating-time flash images for FPGA 0's configuration flash (chip 2).

Writes the recorder's area of the chip, 0x6F3000 up to 0x734000 (or the whole 8 MiB
chip with --full), as a device leaves it after some runs: the header, N group records
in sector A and their copy in sector B, and one log entry per group.

  header     0x6F3000  AA 5A A5
  sector A   0x6F4000  group g at + 512 g:
                         [0] AA  [1..7] start, BCD yy cc MM dd hh mm ss
                         [8..11] minutes before the group, u32 LE  [12] FF
                         [13..15] log sequence, low 3 bytes LE  [33..39] start again
                         [44] 5A when the clock was set, else FF
                         [48..407] counters: unit n -> byte 48 + n/4 = FD F5 D5 55 (n % 4)
  sector B   0x6F5000  the same records
  log        0x6F6000  entry i at + 4096 (i / 256) + 16 (i % 256):
                         [0] AA [1..7] start [8..11] minutes [12] marker [13..15] sequence
                       log sequence: bits 0..19 the entry index (0..0x3D00), 20.. the wraps

Everything else is erased (FF). The last group's log entry has no minutes yet: the next
start writes them.

  gen_clock_record.py OUT [--groups N] [--minutes M[,M...]] [--history H]
                      [--first-seq S] [--start "YYYY-MM-DD hh:mm:ss"] [--marker G ...]
                      [--a-ahead] [--a-begun] [--no-header] [--full]
"""
import argparse
import datetime
import struct
import sys

AREA = 0x6F3000
AREA_END = 0x734000
CHIP = 0x800000
HEADER = 0x6F3000
SECTOR_A = 0x6F4000
SECTOR_B = 0x6F5000
LOG = 0x6F6000
RECORD = 512
GROUPS = 8
COUNTERS = 48
UNITS = 1440
UNIT_VALUE = (0xFD, 0xF5, 0xD5, 0x55)
LOG_ENTRY = 16
PER_SECTOR = 256
LAST_INDEX = 0x3D00
WRAP_SHIFT = 20


def bcd(v):
    return ((v // 10) << 4) | (v % 10)


def start_bytes(t):
    return bytes([bcd(t.year % 100), bcd(t.year // 100), bcd(t.month), bcd(t.day),
                  bcd(t.hour), bcd(t.minute), bcd(t.second)])


def next_sequence(seq):
    index, wraps = seq & 0xFFFFF, seq >> WRAP_SHIFT
    index += 1
    if index > LAST_INDEX:
        index, wraps = 0, wraps + 1
    return (wraps << WRAP_SHIFT) | index


def log_address(index):
    return LOG + 4096 * (index // PER_SECTOR) + LOG_ENTRY * (index % PER_SECTOR)


def counters(minutes):
    units = minutes // 2
    c = bytearray(b"\xff" * 360)
    for n in range(units):
        c[n // 4] = UNIT_VALUE[n % 4]
    return bytes(c)


def group_record(start, history, seq, marker, minutes, begun_only=False):
    r = bytearray(b"\xff" * RECORD)
    r[1:8] = start
    r[8:12] = struct.pack("<I", history)
    r[12] = 0xFF
    r[13:16] = struct.pack("<I", seq & 0xFFFFFF)[:3]
    if begun_only:  # the valid byte and the counts never came
        return bytes(r)
    r[33:40] = start
    r[44] = 0x5A if marker else 0xFF
    r[COUNTERS:COUNTERS + 360] = counters(minutes)
    r[0] = 0xAA
    return bytes(r)


def build(args):
    image = bytearray(b"\xff" * CHIP)

    def put(address, data):
        image[address:address + len(data)] = data

    if not args.no_header:
        put(HEADER, b"\xaa\x5a\xa5")
    minutes = [int(m) for m in args.minutes.split(",")]
    for m in minutes:
        if m < 0 or m > 2 * UNITS or m % 2:
            sys.exit("minutes per group: even, 0..2880")
    groups_a = args.groups + (1 if args.a_ahead else 0)
    if groups_a > GROUPS:
        sys.exit("at most 8 groups (A one ahead included)")
    start = datetime.datetime.strptime(args.start, "%Y-%m-%d %H:%M:%S")
    history = args.history
    seq = args.first_seq
    for g in range(groups_a + (1 if args.a_begun else 0)):
        if g >= GROUPS:
            sys.exit("no room for a begun record after 8 groups")
        m = minutes[min(g, len(minutes) - 1)]
        t = start_bytes(start + datetime.timedelta(days=g))
        marker = g in args.marker
        begun = args.a_begun and g == groups_a
        rec = group_record(t, history, seq, marker, m, begun_only=begun)
        put(SECTOR_A + RECORD * g, rec)
        if g < args.groups:
            put(SECTOR_B + RECORD * g, rec)
        if not begun:
            entry = bytearray(b"\xff" * LOG_ENTRY)
            entry[0] = 0xAA
            entry[1:8] = t
            if g < groups_a - 1:  # closed by the start that followed
                entry[8:12] = struct.pack("<I", m)
            entry[12] = 0x5A if marker else 0xFF
            entry[13:16] = struct.pack("<I", seq & 0xFFFFFF)[:3]
            put(log_address(seq & 0xFFFFF), entry)
        history += m
        seq = next_sequence(seq)
    return bytes(image) if args.full else bytes(image[AREA:AREA_END])


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("out")
    p.add_argument("--groups", type=int, default=0, help="valid groups in A and B (0..8)")
    p.add_argument("--minutes", default="2880", help="minutes of each group; the last value repeats")
    p.add_argument("--history", type=int, default=0, help="minutes before group 0")
    p.add_argument("--first-seq", type=lambda s: int(s, 0), default=0, help="log sequence of group 0")
    p.add_argument("--start", default="2026-03-05 09:07:00", help="start of group 0; each next group a day later")
    p.add_argument("--marker", type=int, action="append", default=[], help="group with the clock-set marker")
    p.add_argument("--a-ahead", action="store_true", help="A holds one more valid group than B")
    p.add_argument("--a-begun", action="store_true", help="A holds a begun record after the valid ones")
    p.add_argument("--no-header", action="store_true")
    p.add_argument("--full", action="store_true", help="the whole 8 MiB chip instead of the area")
    args = p.parse_args(argv)
    if not 0 <= args.groups <= GROUPS:
        sys.exit("groups: 0..8")
    if (args.first_seq & 0xFFFFF) > LAST_INDEX:
        sys.exit("first sequence: entry index 0..0x3D00")
    data = build(args)
    with open(args.out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1:])
