#!/usr/bin/env python3
"""Copies its standard input to FILE as it comes; once FILE would pass LIMIT bytes, FILE
becomes FILE.1 (replacing the one before) at a line's end and a new FILE is begun, so the
two never hold much more than twice LIMIT. Ends at the end of its input: Ctrl-C, a kill or a
hang-up of the terminal's processes leave it running until then, so the last lines of the
program writing into it still land.
    rotate-output.py FILE LIMIT"""
import os
import signal
import sys


def main():
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.SIG_IGN)
    path, limit = sys.argv[1], int(sys.argv[2])
    out = open(path, "ab", buffering=0)
    size = os.fstat(out.fileno()).st_size
    while True:
        data = os.read(0, 65536)
        if not data:
            break
        if size and size + len(data) > limit:
            cut = data.rfind(b"\n") + 1  # the full file ends with a whole line
            out.write(data[:cut])
            out.close()
            os.replace(path, path + ".1")
            out = open(path, "ab", buffering=0)
            data, size = data[cut:], 0
        out.write(data)
        size += len(data)


if __name__ == "__main__":
    main()
