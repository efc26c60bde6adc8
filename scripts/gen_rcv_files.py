#!/usr/bin/env python3
"""Receiving-card files for tests and for the simulated board.

Writes, from a JSON description, either
  - a recovery packed file ("kind": "packed"): part table, screen part (type 10),
    XY part (type 11: per screen its nets, per net one operation list per card) and
    smart-debugging part (type 12: per screen one list), or
  - a standalone smart-mapping file ("kind": "standalone"): one operation list,
and optionally a JSON map of where every structure landed (absolute file positions),
so a test can check a reader against positions it did not compute itself.

Usage: gen_rcv_files.py DESC.json OUT [--map MAP.json]      (DESC "-" reads stdin)

Operation (every field optional):
  {"type": 1, "target": 1, "addr": 256, "timeticks": 500,
   "data": "a1b2..." (hex) | "fill": n with "seed": k,
   "offset": override, "dataLen": override}
Packed description:
  {"kind": "packed", "head": [b0, b1, b2], "part_count": override of byte 3,
   "part_order": [10, 11, 12], "omit_parts": [12], "decoy": [10], "extra_entries": n,
   "gap": 1, "screen_type": 0,
   "screens": [{"config_id": n, "net_use": n, "para_ops": [op, ...] (absent: no list),
                "nets": [{"net_ledx": 2, "net_rcv_num": override,
                          "cards": [[op, ...], {"ops": [op, ...], "count": override}]}]}]}
  "decoy": an earlier table entry of that type, pointing at a decoy copy of the part
  (type 10: one screen with config id 0xDEC0DE10), so the reader must take the last.
  "extra_entries": table entries of type 0 appended after the real ones.
  Malformed files: "part_count", "screen_num" (head), "net_count", "xy_offset",
  "xy_len", "para_offset", "para_len" (screen), "net_rcv_num", "net_para_offset" (net),
  "count" (list) and an operation's "offset"/"dataLen" replace the computed value;
  "omit_parts" leaves a part out of the table. Truncate or patch the output for the rest.
Standalone description:
  {"kind": "standalone", "head": "hex of 16 bytes", "ops": [op, ...], "count": override,
   "gap": 0}

All numbers little-endian; structures are written byte by byte at whatever position
they fall on ("gap" bytes of 0xEE between areas keep positions odd).
"""
import json
import struct
import sys
import zlib

OP_SIZE = 18
NET_SIZE = 12
SCREEN_HEAD = 32
SCREEN_REC = 52
PART_ENTRY = 12
LIST_HEAD = 4
SUB_HEAD = 16   # the XY head and the smart-debugging head
DECOY_CONFIG_ID = 0xDEC0DE10


def op_data(op):
    if "data" in op:
        return bytes.fromhex(op["data"])
    n = op.get("fill", 0)
    seed = op.get("seed", 0)
    return bytes((seed + 31 * i + (i >> 8)) & 0xFF for i in range(n))


def op_record(op, offset, data_len):
    return struct.pack("<IIIIBB",
                       op.get("offset", offset) & 0xFFFFFFFF,
                       op.get("dataLen", data_len) & 0xFFFFFFFF,
                       op.get("addr", 0) & 0xFFFFFFFF,
                       op.get("timeticks", 0) & 0xFFFFFFFF,
                       op.get("type", 1) & 0xFF,
                       op.get("target", 1) & 0xFF)


def list_parts(spec):
    """(ops, count) of a card or list description."""
    if isinstance(spec, dict):
        ops = spec.get("ops", [])
        return ops, spec.get("count", len(ops))
    return spec, len(spec)


def op_list(ops, count, data_base, data_start):
    """Head and records of one list, and its data laid out from data_start (absolute).

    Returns (head+records bytes, data bytes, record offsets, data positions)."""
    recs = bytearray(struct.pack("<HH", count & 0xFFFF, 0))
    data = bytearray()
    data_pos = []
    for op in ops:
        d = op_data(op)
        pos = data_start + len(data)
        data_pos.append(pos)
        recs += op_record(op, pos - data_base, len(d))
        data += d
    return bytes(recs), bytes(data), data_pos


def op_map(ops, first_record, data_base, data_pos):
    """Where each record and its data lie, as written (overrides included)."""
    out = []
    for i, op in enumerate(ops):
        d = op_data(op)
        data = data_base + op["offset"] if "offset" in op else data_pos[i]
        out.append({"record": first_record + LIST_HEAD + OP_SIZE * i, "data": data,
                    "dataLen": op.get("dataLen", len(d)), "hex": d.hex()})
    return out


class Writer:
    def __init__(self, start, gap):
        self.buf = bytearray()
        self.start = start
        self.gap = gap

    def pos(self):
        return self.start + len(self.buf)

    def put(self, b):
        p = self.pos()
        self.buf += b
        return p

    def pad(self):
        self.buf += b"\xEE" * self.gap


def build_xy_part(screens, start, gap):
    """The XY part at absolute position start. Returns bytes and per-screen maps."""
    w = Writer(start, gap)
    w.put(bytes(range(0xA0, 0xA0 + SUB_HEAD)))   # XY head, not used by the controller
    maps = []
    for sc in screens:
        w.pad()
        x = w.pos()
        nets = sc.get("nets", [])
        # net records are patched once the nets' areas are placed
        head_at = len(w.buf)
        w.put(struct.pack("<HH", sc.get("net_count", len(nets)) & 0xFFFF, 0))
        w.put(b"\0" * (NET_SIZE * len(nets)))
        net_maps = []
        for n, net in enumerate(nets):
            w.pad()
            a = w.pos()
            cards = net.get("cards", [])
            # all card blocks back to back first, then the net's data
            blocks = []
            block_pos = a
            for card in cards:
                ops, count = list_parts(card)
                blocks.append((ops, count, block_pos))
                block_pos += LIST_HEAD + OP_SIZE * len(ops)
            data_start = block_pos
            card_maps = []
            block_bytes = bytearray()
            data_bytes = bytearray()
            for ops, count, bp in blocks:
                recs, data, data_pos = op_list(ops, count, a, data_start + len(data_bytes))
                block_bytes += recs
                data_bytes += data
                card_maps.append({"block": bp, "block_rel": bp - a, "count": count,
                                  "ops": op_map(ops, bp, a, data_pos)})
            w.put(bytes(block_bytes))
            w.put(bytes(data_bytes))
            end = w.pos()
            rec = struct.pack("<HHII", net.get("net_ledx", n) & 0xFFFF,
                              net.get("net_rcv_num", len(cards)) & 0xFFFF,
                              net.get("net_para_offset", a - x) & 0xFFFFFFFF, end - a)
            at = head_at + LIST_HEAD + NET_SIZE * n
            w.buf[at:at + NET_SIZE] = rec
            npo = net.get("net_para_offset", a - x)
            net_maps.append({"record": x + LIST_HEAD + NET_SIZE * n, "a": x + npo, "net_ledx": net.get("net_ledx", n),
                             "net_para_offset": npo, "net_rcv_num": net.get("net_rcv_num", len(cards)),
                             "cards": card_maps})
        maps.append({"x": x, "xy_offset": x - start, "xy_len": w.pos() - x, "nets": net_maps})
    return bytes(w.buf), maps


def build_smart_part(screens, start, gap):
    w = Writer(start, gap)
    w.put(bytes(range(0xB0, 0xB0 + SUB_HEAD)))   # smart-debugging head
    maps = []
    for sc in screens:
        if "para_ops" not in sc:
            maps.append({"d": None, "para_offset": sc.get("para_offset", 0), "para_len": 0, "ops": []})
            continue
        w.pad()
        d = w.pos()
        ops, count = list_parts(sc["para_ops"])
        recs, data, data_pos = op_list(ops, count, d, d + LIST_HEAD + OP_SIZE * len(ops))
        w.put(recs)
        w.put(data)
        maps.append({"d": d, "para_offset": d - start, "para_len": w.pos() - d, "count": count,
                     "ops": op_map(ops, d, d, data_pos)})
    return bytes(w.buf), maps


def build_screen_part(desc, screens, xy_maps, smart_maps, xy_part, smart_part):
    head = bytearray(SCREEN_HEAD)
    head[2] = desc.get("screen_type", 0) & 0xFF
    struct.pack_into("<IIII", head, 4, len(smart_part), zlib.crc32(smart_part), len(xy_part), zlib.crc32(xy_part))
    head[20] = desc.get("screen_num", len(screens)) & 0xFF
    out = bytearray(head)
    for sc, xm, sm in zip(screens, xy_maps, smart_maps):
        rec = bytearray(SCREEN_REC)
        struct.pack_into("<II", rec, 0, sc.get("config_id", 0) & 0xFFFFFFFF, sc.get("net_use", 0) & 0xFFFFFFFF)
        rec[8:36] = bytes(range(0x40, 0x40 + 28))   # not used by the controller
        struct.pack_into("<IIII", rec, 36,
                         sc.get("para_offset", sm["para_offset"]) & 0xFFFFFFFF,
                         sc.get("para_len", sm["para_len"]) & 0xFFFFFFFF,
                         sc.get("xy_offset", xm["xy_offset"]) & 0xFFFFFFFF,
                         sc.get("xy_len", xm["xy_len"]) & 0xFFFFFFFF)
        out += rec
    return bytes(out)


def decoy_part(ptype):
    if ptype == 10:
        head = bytearray(SCREEN_HEAD)
        head[20] = 1
        rec = bytearray(SCREEN_REC)
        struct.pack_into("<I", rec, 0, DECOY_CONFIG_ID)
        return bytes(head + rec)
    return b"\xDD" * SUB_HEAD


def build_packed(desc):
    screens = desc.get("screens", [])
    order = desc.get("part_order", [10, 11, 12])
    omit = set(desc.get("omit_parts", []))
    decoys = desc.get("decoy", [])
    extra = desc.get("extra_entries", 0)
    gap = desc.get("gap", 1)
    n_entries = len([t for t in order if t not in omit]) + len(decoys) + extra
    table_end = 4 + PART_ENTRY * n_entries

    # Parts are laid out in order, each after a gap; the decoys come first. Part
    # positions feed the relative offsets, so the XY and smart parts are built at their
    # final positions: place the decoys, then compute each part's start in turn.
    pos = table_end
    blobs = []
    entries = []
    for t in decoys:
        pos += gap
        b = decoy_part(t)
        blobs.append((pos, b))
        entries.append((t, len(b), pos))
        pos += len(b)

    sizes = {}
    # The screen part's size does not depend on positions; the other two are
    # position-independent in size too (offsets are relative), so build them twice.
    xy_probe, _ = build_xy_part(screens, 0, gap)
    smart_probe, _ = build_smart_part(screens, 0, gap)
    sizes[11] = len(xy_probe)
    sizes[12] = len(smart_probe)
    sizes[10] = SCREEN_HEAD + SCREEN_REC * len(screens)
    starts = {}
    for t in order:
        pos += gap
        starts[t] = pos
        pos += sizes[t]
    xy_part, xy_maps = build_xy_part(screens, starts[11], gap)
    smart_part, smart_maps = build_smart_part(screens, starts[12], gap)
    screen_part = build_screen_part(desc, screens, xy_maps, smart_maps, xy_part, smart_part)
    part_bytes = {10: screen_part, 11: xy_part, 12: smart_part}
    for t in order:
        blobs.append((starts[t], part_bytes[t]))
        if t not in omit:
            entries.append((t, len(part_bytes[t]), starts[t]))
    for _ in range(extra):
        entries.append((0, 0, 0))

    out = bytearray(pos)
    head = desc.get("head", [0x4B, 0x56, 0x46])
    out[0:3] = bytes(head[:3])
    out[3] = desc.get("part_count", len(entries)) & 0xFF
    for k, (t, length, off) in enumerate(entries):
        e = bytearray(PART_ENTRY)
        e[0] = t
        e[1:4] = b"\x77\x77\x77"
        struct.pack_into("<II", e, 4, length, off)
        out[4 + PART_ENTRY * k:4 + PART_ENTRY * (k + 1)] = e
    for k in range(table_end, pos):
        out[k] = 0xEE
    for p, b in blobs:
        out[p:p + len(b)] = b

    smap = []
    for s, sc in enumerate(screens):
        smap.append({"record": starts[10] + SCREEN_HEAD + SCREEN_REC * s, "config_id": sc.get("config_id", 0),
                     "x": xy_maps[s]["x"], "xy_offset": xy_maps[s]["xy_offset"], "xy_len": xy_maps[s]["xy_len"],
                     "nets": xy_maps[s]["nets"], "d": smart_maps[s]["d"],
                     "para_offset": smart_maps[s]["para_offset"], "para_len": smart_maps[s]["para_len"],
                     "para_ops": smart_maps[s]["ops"]})
    m = {"size": len(out), "parts": {str(t): starts[t] for t in order},
         "table": [{"type": t, "length": length, "offset": off} for t, length, off in entries],
         "screens": smap}
    return bytes(out), m


def build_standalone(desc):
    gap = desc.get("gap", 0)
    head = bytes.fromhex(desc["head"]) if "head" in desc else bytes(range(0xC0, 0xD0))
    head = (head + bytes(SUB_HEAD))[:SUB_HEAD]
    ops, count = list_parts(desc.get("ops", []))
    count = desc.get("count", count)
    base = SUB_HEAD
    data_start = base + LIST_HEAD + OP_SIZE * len(ops) + gap
    recs, data, data_pos = op_list(ops, count, base, data_start)
    out = head + recs + b"\xEE" * gap + data
    return out, {"size": len(out), "count_pos": base, "ops": op_map(ops, base, base, data_pos)}


def main(argv):
    args = [a for a in argv[1:]]
    map_path = None
    if "--map" in args:
        i = args.index("--map")
        map_path = args[i + 1]
        del args[i:i + 2]
    if len(args) != 2:
        sys.stderr.write(__doc__)
        return 2
    src, out_path = args
    try:
        return write(src, out_path, map_path)
    except OSError as e:
        sys.stderr.write("gen_rcv_files.py: %s: %s\n" % (e.filename, e.strerror))
    except json.JSONDecodeError as e:
        sys.stderr.write("gen_rcv_files.py: %s: not JSON (%s)\n" % (src, e))
    return 1


def write(src, out_path, map_path):
    if src == "-":
        desc = json.load(sys.stdin)
    else:
        with open(src, encoding="utf-8") as f:
            desc = json.load(f)
    kind = desc.get("kind", "packed")
    if kind == "packed":
        data, m = build_packed(desc)
    elif kind == "standalone":
        data, m = build_standalone(desc)
    else:
        sys.stderr.write("unknown kind %r\n" % kind)
        return 2
    with open(out_path, "wb") as f:
        f.write(data)
    if map_path:
        with open(map_path, "w", encoding="utf-8") as f:
            json.dump(m, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
