#!/usr/bin/env python3
"""Builds USB upgrade packages (*.VLX, *.VLXZK) for tests and for the simulated board.

Layout (little-endian):
  header, 49 bytes: [0] file type, [1] file version, [2] publish type (0x80 release),
    [3..17] 0, [18..19] controller type (0x6C52), [20..46] 0, [47..48] entry count
  entry i at 49 + 21 * i: [0] type (10 application, 7 FPGA 0 bitstream, 8 FPGA 1
    bitstream, 13 OSD font), [1..4] data length, [5..8] data offset from the file start,
    [9..14] version: year (two digits), month, day, hardware, software, function,
    [15..18] flash address (unused), [19..20] sector count (unused)
  bitstream data: a 64-byte header ([16] file type 1 or 2, [17] version, [18] controller
    class, [20] kind 0 sending card, [23..26] version, [31..34] L), then L bytes
  font data: the 35-byte font header ([0] 'P', [5] encoding 0 Chinese / 1 ASCII,
    [17] glyph width, [18] glyph height), then the glyphs; the whole entry is the font

Entries are laid out in the order given: --app, --fpga0, --fpga1, --font, --entry.
The output's folders are made. An application larger than the controller's application
buffer (APP_MAX, 5 MiB) is refused: the controller could not take it.

Variants for tests of bad packages:
  --corrupt bitstream-length   the first bitstream's L exceeds its entry by one byte
  --corrupt offset-past-end    the last entry's data offset points past the file's end
  --corrupt entry-count        the entry count claims one entry more than the table holds
  --corrupt font-height        the font's glyph height is 48
  --corrupt font-oversize      the font entry is one sector longer than its slot
  --corrupt empty-app          the application entry has length 0
  --truncate N                 the file is cut to N bytes (negative: N bytes fewer)

Example:
  gen_upgrade_package.py out.VLX --app new_app --fpga0 a.bit --fpga1 b.bit \\
      --font glyphs.bin --font-encoding 1 --font-height 64 --publish 0
"""
import argparse
import os
import struct
import sys

HEADER = 49
ENTRY = 21
CONTROLLER = 0x6C52
THIS_VERSION = (24, 10, 20, 11, 2, 1)
APP_MAX = 5 * 1024 * 1024   # the controller holds an application whole in this buffer
FONT_SLOT_ROOM = {(1, 32): 0x10000, (0, 32): 0x400000, (1, 64): 0x40000, (0, 64): 0xA89000}


def bitstream_header(length, version):
    h = bytearray(64)
    h[16] = 1            # file type
    h[17] = 1            # file version
    h[18] = 0x52         # controller class
    h[20] = 0            # sending card
    h[23:27] = bytes(version[:4])
    struct.pack_into('<I', h, 31, length)
    return bytes(h)


def font_header(encoding, height):
    h = bytearray(35)
    h[0] = ord('P')
    h[5] = encoding
    h[17] = height
    h[18] = height
    return bytes(h)


def read(path):
    with open(path, 'rb') as f:
        return f.read()


def parse_version(text):
    v = tuple(int(x, 0) for x in text.split(','))
    if len(v) != 6:
        raise argparse.ArgumentTypeError('six numbers: year,month,day,hardware,software,function')
    return v


def build(args):
    entries = []  # (type, data bytes, version)
    if args.app is not None:
        app = read(args.app)
        if len(app) > APP_MAX:
            raise SystemExit('%s: %d bytes; the controller takes an application of at most %d bytes (5 MiB), '
                             'its application buffer (a stripped copy may fit: strip -o COPY %s)'
                             % (args.app, len(app), APP_MAX, args.app))
        entries.append([10, app, args.version])
    for kind, path in ((7, args.fpga0), (8, args.fpga1)):
        if path is not None:
            body = read(path)
            entries.append([kind, bitstream_header(len(body), args.fpga_version) + body, args.fpga_version])
    if args.font is not None:
        entries.append([13, font_header(args.font_encoding, args.font_height) + read(args.font), args.version])
    for spec in args.entry or []:
        t, path = spec.split(':', 1)
        entries.append([int(t, 0), read(path), args.version])

    c = args.corrupt
    if c == 'bitstream-length':
        e = next(e for e in entries if e[0] in (7, 8))
        h = bytearray(e[1][:64])
        struct.pack_into('<I', h, 31, struct.unpack_from('<I', h, 31)[0] + 1)
        e[1] = bytes(h) + e[1][64:]
    elif c == 'font-height':
        e = next(e for e in entries if e[0] == 13)
        h = bytearray(e[1])
        h[18] = 48
        e[1] = bytes(h)
    elif c == 'font-oversize':
        e = next(e for e in entries if e[0] == 13)
        room = FONT_SLOT_ROOM[(e[1][5], e[1][18])]
        e[1] = e[1] + b'\x5a' * (room + 4096 - len(e[1]))
    elif c == 'empty-app':
        e = next(e for e in entries if e[0] == 10)
        e[1] = b''

    count = len(entries)
    table_end = HEADER + ENTRY * count
    out = bytearray(table_end)
    out[0] = 1                              # file type
    out[1] = 1                              # file version
    out[2] = args.publish
    struct.pack_into('<H', out, 18, args.controller)
    struct.pack_into('<H', out, 47, count + 1 if c == 'entry-count' else count)
    at = table_end
    for i, (kind, data, version) in enumerate(entries):
        offset = at
        if c == 'offset-past-end' and i == count - 1:
            offset = table_end + sum(len(d) for _, d, _ in entries) + 1
        rec = struct.pack('<BII6BIH', kind, len(data), offset, *version, 0, 0)
        assert len(rec) == ENTRY
        out[HEADER + ENTRY * i:HEADER + ENTRY * (i + 1)] = rec
        at += len(data)
    for _, data, _ in entries:
        out += data
    if args.truncate is not None:
        n = args.truncate if args.truncate >= 0 else len(out) + args.truncate
        out = out[:max(n, 0)]
    return bytes(out)


def main(argv):
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument('output')
    p.add_argument('--app', help='application image')
    p.add_argument('--fpga0', help='bitstream for FPGA 0 (without its 64-byte header)')
    p.add_argument('--fpga1', help='bitstream for FPGA 1 (without its 64-byte header)')
    p.add_argument('--font', help='glyph data of an OSD font (the 35-byte header is added)')
    p.add_argument('--font-encoding', type=int, default=1, help='0 Chinese, 1 ASCII')
    p.add_argument('--font-height', type=int, default=32, help='32 or 64')
    p.add_argument('--entry', action='append', help='TYPE:FILE, an entry of any type, data as given')
    p.add_argument('--publish', type=lambda x: int(x, 0), default=0, help='publish type (0x80 release)')
    p.add_argument('--controller', type=lambda x: int(x, 0), default=CONTROLLER)
    p.add_argument('--version', type=parse_version, default=THIS_VERSION,
                   help='version of the application and font entries (default: this program\'s)')
    p.add_argument('--fpga-version', type=parse_version, default=(25, 1, 15, 1, 1, 3),
                   help='version of the bitstream entries')
    p.add_argument('--corrupt', choices=['bitstream-length', 'offset-past-end',
                                         'entry-count', 'font-height', 'font-oversize', 'empty-app'])
    p.add_argument('--truncate', type=int)
    args = p.parse_args(argv)
    try:
        data = build(args)
        folder = os.path.dirname(os.path.abspath(args.output))
        os.makedirs(folder, exist_ok=True)
        with open(args.output, 'wb') as f:
            f.write(data)
    except OSError as e:
        raise SystemExit('%s: %s' % (e.filename or args.output, e.strerror))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
