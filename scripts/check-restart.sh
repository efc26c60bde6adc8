#!/usr/bin/env bash
# One controller per board root, and the SoC chip ids across its restarts: a second
# controller on a root in use stops at once naming the root, touching none of the first
# one's files (its temporary files of saves in flight), while the first serves on;
# VLX_SIM_CHIPID gives the ids at start, and ids set with `chipid` over board control
# are kept with the root, so the next start derives its device id from them.
#   scripts/check-restart.sh build/vlxH71N
set -uo pipefail
prog="${1:?usage: $0 PROGRAM}"
here="$(cd "$(dirname "$0")/.." && pwd)"

. "$here/scripts/sim-root.sh"
offset="$(free_port_offset)"
tcp="127.0.0.1:$((5005 + offset))"

start() {
  VLX_BOARD=sim VLX_ROOT="$root" VLX_PORT_OFFSET=$offset QT_QPA_PLATFORM=offscreen "$prog" >>"$root/stdout" 2>&1 &
  pid=$!
}
# The device id's hex over TCP once the controller answers (60 s at most).
device_id() {
  local answer
  for _ in $(seq 1 120); do
    answer="$(python3 "$here/tests/protocol/vlx_client.py" --tcp "$tcp" --timeout 1 device-info 2>/dev/null)"
    sed -n 's/.*"data": "\([0-9a-f]*\)".*/\1/p' <<<"$answer" | grep . && return 0
    kill -0 "$pid" 2>/dev/null || fail "the controller ended: $(tail -5 "$root/stdout")"
    sleep 0.5
  done
  fail "no device id over TCP within 60 s: $answer"
}

VLX_SIM_CHIPID="1A2B 3C4D 5E6F" start
first="$(device_id)"
# the id's first three digits are the top digits of X, Y and Z
[ "${first:0:6}" = 313335 ] || fail "device id $first is not derived from VLX_SIM_CHIPID"

# The first controller's save in flight: the second must leave its temporary file alone.
inflight="$root/data/configs/tcpip.ini.tmpQ7x2Lp"
echo "half a save" >"$inflight"
second_out="$(VLX_BOARD=sim VLX_ROOT="$root" VLX_PORT_OFFSET=$offset QT_QPA_PLATFORM=offscreen \
              timeout 60 "$prog" 2>&1)"
status=$?
[ "$status" -ne 0 ] && [ "$status" -ne 124 ] || fail "a second controller on the root ran on (status $status)"
grep -qF -- "$root" <<<"$second_out" || fail "the second controller's error does not name the root: $second_out"
[ "$(device_id)" = "$first" ] || fail "the first controller stopped serving"
[ -f "$inflight" ] || fail "the second controller removed the first one's temporary file"
rm -f "$inflight"
echo "ok: a second controller stopped: $second_out"

answer="$(VLX_ROOT="$root" "$here/scripts/board" chipid F00F E00E D00D)"
[ "$answer" = OK ] || fail "chipid answered: $answer"
kill "$pid"
wait "$pid" 2>/dev/null
start
again="$(device_id)"
[ "${again:0:6}" = 666564 ] || fail "after a restart the device id $again is not derived from the ids chipid set"
echo "ok: device ids $first, then $again after chipid and a restart"
