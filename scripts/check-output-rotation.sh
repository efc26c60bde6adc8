#!/usr/bin/env bash
# The controller's output as ./run.sh writes it: past 16 MiB controller.out becomes
# controller.out.1 at a line's end (the last one of the read that passed the limit, a pipe's
# 64 KiB at most) and a new file begins; nothing is lost or split.
#   scripts/check-output-rotation.sh
set -uo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
. "$here/scripts/sim-root.sh"
. "$here/scripts/controller-output.sh"

out="$root/controller.out"
controller_output "$out"
# 17 MiB of numbered 64-byte lines, as a stream of register dumps comes
python3 -c '
import sys
for i in range(17 * 16384):
    sys.stdout.write("%063d\n" % i)
' >&3 || fail "the writer took no output"
exec 3>&-
wait "$output_writer"
[ -f "$out.1" ] || fail "no controller.out.1 after 17 MiB: $(stat -c %s "$out") bytes in controller.out"
python3 - "$out" <<'PY' || exit 1
import sys
path = sys.argv[1]
old, new = open(path + ".1", "rb").read(), open(path, "rb").read()
limit = 16 << 20
if not limit - 65536 < len(old) <= limit + 65536 or not old.endswith(b"\n"):
    sys.exit("FAIL: controller.out.1 holds %d bytes, not 16 MiB up to a line's end" % len(old))
want = b"".join(b"%063d\n" % i for i in range(17 * 16384))
if old + new != want:
    sys.exit("FAIL: the two files are not the output in order, every line whole")
print("ok: turned over at %d bytes, %d bytes after" % (len(old), len(new)))
PY
