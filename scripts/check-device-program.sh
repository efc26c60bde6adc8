#!/usr/bin/env bash
# Checks the device program of the armhf build: a 32-bit ARM EABI5 hard-float
# executable that starts under the emulator on the simulated board and answers
# the board-control `help`.
#   scripts/check-device-program.sh build-armhf/vlxH71N [qemu-arm]
set -uo pipefail
prog="${1:?usage: $0 PROGRAM [EMULATOR]}"
emu="${2:-qemu-arm}"
here="$(cd "$(dirname "$0")/.." && pwd)"
fail() { echo "FAIL: $*" >&2; exit 1; }

readelf=readelf
command -v arm-linux-gnueabihf-readelf >/dev/null && readelf=arm-linux-gnueabihf-readelf
header="$("$readelf" -h "$prog")" || fail "$prog is not an ELF file"
grep -Eq 'Class:[[:space:]]+ELF32' <<<"$header" || fail "$prog is not a 32-bit ELF"
grep -Eq 'Machine:[[:space:]]+ARM$' <<<"$header" || fail "$prog is not for ARM"
grep -q 'Version5 EABI' <<<"$header" || fail "$prog is not EABI version 5"
grep -q 'hard-float ABI' <<<"$header" || fail "$prog does not use the hard-float ABI"
"$readelf" -l "$prog" | grep -q 'interpreter: /lib/ld-linux-armhf.so.3' ||
  fail "$prog does not load through the armhf loader"
echo "ok: 32-bit ARM EABI5 hard-float executable"

. "$here/scripts/sim-root.sh"

# The Qt platform on the command line, as the board's loader gives `-platform linuxfb`;
# there is no framebuffer here.
VLX_BOARD=sim VLX_ROOT="$root" "$emu" "$prog" -platform offscreen >"$root/stdout" 2>&1 &
pid=$!
for _ in $(seq 1 300); do  # up to 30 s for the emulated start
  [ -S "$root/run/board.sock" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended at start-up: $(cat "$root/stdout" 2>/dev/null)"
  sleep 0.1
done
answer="$(VLX_ROOT="$root" "$here/scripts/board" help)" || fail "no answer to help: $answer"
case "$answer" in
  OK*"help: lists the commands"*) ;;
  *) fail "unexpected answer to help: $answer" ;;
esac
# Past the start-up wait the parameter store writes its RAM file and the front panel opens.
for _ in $(seq 1 300); do
  [ -s "$root/data/ram_device_info" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended during start-up"
  sleep 0.1
done
[ -s "$root/data/ram_device_info" ] || fail "the parameter store never wrote its RAM file"
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the program ended after opening the front panel"
head -n 1 "$root/data/kavelkv/log/zufEnglneLog" | grep -q "board: sim" || fail "the log does not start with the board"
echo "ok: starts under $emu on the simulated board and answers help"
