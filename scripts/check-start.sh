#!/usr/bin/env bash
# The controller's start on the simulated board, as ./run.sh starts it: its fixed
# start-up waits (3 s before the singletons, 2 s before the FPGA thread) pass as board
# time, so the board clock runs well ahead of the time since launch; and every
# thread of ours carries its subsystem's name.
#   scripts/check-start.sh build/vlxH71N
set -uo pipefail
prog="${1:?usage: $0 PROGRAM}"
here="$(cd "$(dirname "$0")/.." && pwd)"

. "$here/scripts/sim-root.sh"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
VLX_BOARD=sim VLX_ROOT="$root" VLX_PORT_OFFSET="$(free_port_offset)" QT_QPA_PLATFORM=offscreen \
  "$prog" >"$root/stdout" 2>&1 &
pid=$!
# The board-control socket is up before the first of the two waits: the board clock runs
# from before then, so it is at least the real time since then plus the waits passed as
# board time, however slow the program's own start was on a loaded machine.
for _ in $(seq 1 1200); do
  [ -S "$root/run/board.sock" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended at start-up: $(tail -5 "$root/stdout")"
  sleep 0.05
done
[ -S "$root/run/board.sock" ] || fail "no board-control socket within 60 s"
listening=$(now_ms)
# past both waits the parameter store has written its RAM file and the FPGA thread runs
for _ in $(seq 1 600); do
  [ -s "$root/data/ram_device_info" ] && grep -qx fpga /proc/"$pid"/task/*/comm 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended at start-up: $(tail -5 "$root/stdout")"
  sleep 0.05
done
grep -qx fpga /proc/"$pid"/task/*/comm 2>/dev/null || fail "no FPGA thread within 30 s"
elapsed=$(($(now_ms) - listening))
answer="$(VLX_ROOT="$root" "$here/scripts/board" clock)" || fail "no answer to clock: $answer"
board_ms=$(sed -n 's/^OK board \([0-9]*\) ms.*/\1/p' <<<"$answer")
[ -n "$board_ms" ] || fail "unexpected answer to clock: $answer"
# Passed as board time, the waits put the clock at least 5 s (less the 50 ms of a look for the
# socket) ahead of the real time since the socket came up, at any load; run in real time they
# would leave it ahead by no more than the query's own round trip.
[ "$board_ms" -ge $((elapsed + 4000)) ] ||
  fail "board clock at $board_ms ms, $elapsed ms after board control came up: the start-up waits ran in real time"
echo "ok: board clock $board_ms ms, $elapsed ms after board control came up"

# every worker of ours is named; only the GUI thread and Qt's own keep other names.
# Some start after the windows are built: wait until all are there (or 30 s went by).
wanted="vlxH71N sim-clock board-control sim-serial touch input-sources fpga c331 \
        ctl-udp ctl-udp-wifi ctl-serial ctl-tcp ctl-4g wifi-start usb-uevent"
missing=""
for _ in $(seq 1 600); do
  names="$(cat /proc/"$pid"/task/*/comm 2>/dev/null | sort)"
  missing=""
  for want in $wanted; do
    grep -qx -- "$want" <<<"$names" || missing="$missing $want"
  done
  [ -z "$missing" ] && [ "$(grep -cx vlxH71N <<<"$names")" -eq 1 ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended: $(tail -5 "$root/stdout")"
  sleep 0.05
done
[ -z "$missing" ] || fail "no thread named$missing within 30 s among: $(tr '\n' ' ' <<<"$names")"
[ "$(grep -cx vlxH71N <<<"$names")" -eq 1 ] || fail "more than one thread without a name: $(tr '\n' ' ' <<<"$names")"
echo "ok: threads $(tr '\n' ' ' <<<"$names")"
