#!/usr/bin/env bash
# How the controller ends, as ./run.sh stops it: Ctrl-C (SIGINT) and a kill (SIGTERM) end
# its event loop (also when they come during the start), board control is stopped and the program ends by that signal, also while a PC
# streams changes as fast as it gets answers, and the parameter file then holds every change
# the PC was answered for; when its X
# display goes first (Qt's X11 plugin then calls exit()), it ends without an abort. No run
# ends with "terminate called". A second controller on another root with the same port
# offset says on standard error which ports it cannot open.
#   scripts/check-stop.sh build/vlxH71N
set -uo pipefail
prog="${1:?usage: $0 PROGRAM}"
here="$(cd "$(dirname "$0")/.." && pwd)"

. "$here/scripts/sim-root.sh"
offset="$(free_port_offset)"
second="$root/second"
xvfb=""
other=""
trap 'for p in $xvfb $other; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; cleanup' EXIT

# start ROOT OUTFILE [Qt platform arguments]: the controller in the background, its pid in $pid
start() {
  local r="$1" o="$2"
  shift 2
  mkdir -p "$r"
  # the log of an earlier start on this root already says it: started() waits for a new line
  rm -f "$r/data/kavelkv/log/zufEnglneLog"
  VLX_BOARD=sim VLX_ROOT="$r" VLX_PORT_OFFSET=$offset "$prog" "$@" >"$o" 2>&1 &
  pid=$!
}
# the TCP link is the last to open its port: the start is over once the log says so
started() {
  local r="$1"
  for _ in $(seq 1 600); do
    grep -q "TCP server" "$r/data/kavelkv/log/zufEnglneLog" 2>/dev/null &&
      VLX_ROOT="$r" "$here/scripts/board" help >/dev/null 2>&1 && return 0
    kill -0 "$pid" 2>/dev/null || fail "the controller ended at start-up: $(tail -5 "$r/stdout")"
    sleep 0.05
  done
  fail "the controller did not start within 30 s"
}
# ended PID [SECONDS]: its exit status, waiting at most SECONDS (30)
ended() {
  local limit="${2:-30}"
  for _ in $(seq 1 $((limit * 20))); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$1" 2>/dev/null && fail "the controller still runs $limit s after it was asked to stop"
  wait "$1"
}
# one last save ran, whichever thread came to it first
one_last_save() {
  local n
  n="$(grep -c "the last save took" "$root/data/kavelkv/log/zufEnglneLog" 2>/dev/null)"
  [ "$n" = 1 ] || fail "$1: $n last saves"
}
clean_end() {  # OUTFILE WANTED_STATUS STATUS WHAT
  grep -q "terminate called\|Aborted\|AddressSanitizer" "$1" && fail "$4: $(tail -5 "$1")"
  [ "$3" -eq "$2" ] || fail "$4: status $3, not $2: $(tail -5 "$1")"
}

export QT_QPA_PLATFORM=offscreen
for sig in INT TERM; do
  start "$root" "$root/stdout"
  started "$root"
  kill -"$sig" "$pid"
  ended "$pid"
  status=$?
  pid=""
  want=$((128 + $(kill -l "$sig")))
  clean_end "$root/stdout" "$want" "$status" "SIG$sig"
  one_last_save "SIG$sig"
  [ -e "$root/run/board.sock" ] && fail "SIG$sig: board control was not stopped (its socket is left)"
  echo "ok: SIG$sig ends the controller with status $status"
done

# Ctrl-C during the start, once its first log line is written and before the links and the
# panel are up (a background job's SIGINT starts ignored): kept, and the controller ends by it
start "$root" "$root/stdout"
for _ in $(seq 1 3000); do
  grep -q "board: sim" "$root/data/kavelkv/log/zufEnglneLog" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || fail "the controller ended at start-up: $(tail -5 "$root/stdout")"
  sleep 0.01
done
kill -INT "$pid"
ended "$pid"
status=$?
pid=""
clean_end "$root/stdout" 130 "$status" "SIGINT during the start"
one_last_save "SIGINT during the start"
echo "ok: SIGINT during the start ends the controller with status $status"

# a PC writing register 0xA3, a RAM word and applying it as fast as the answers come: each
# pass announces a change to the panel, a stop still ends the controller within a few seconds,
# and the parameter file holds the last value the PC was answered "done" for (or the one
# after it, carried out but not answered).
word=$((0x8DE))   # a saved word nothing reads
for sig in TERM INT; do
  start "$root" "$root/stdout"
  started "$root"
  python3 - "$here/tests/protocol" $((5005 + offset)) "$word" >"$root/flood" 2>&1 <<'PY' &
import sys
sys.path.insert(0, sys.argv[1])
import vlx_client as v
ln = v.Link("tcp", "127.0.0.1:" + sys.argv[2], timeout=5)
word = int(sys.argv[3])
n = done = 0
try:
    while True:
        if ln.request(v.write_reg(0xA3, 0xFF, 1)) is None:
            break
        n += 1
        r = ln.request(v.write_mem(word, v.le16(n)))
        if r is None:
            break
        if r["status"] == 0:
            done = n
        ln.request(v.write_reg(11, 0x02, 0x02))
        if n == 300:
            print("flooding", flush=True)
except OSError:
    pass
print("done", done, flush=True)
PY
  other=$!
  for _ in $(seq 1 1200); do
    grep -q flooding "$root/flood" && break
    kill -0 "$other" 2>/dev/null || fail "the PC's stream ended early: $(tail -3 "$root/flood")"
    sleep 0.05
  done
  grep -q flooding "$root/flood" || fail "the PC's stream did not get 300 answers within 60 s"
  kill -"$sig" "$pid"
  ended "$pid" 15
  status=$?
  clean_end "$root/stdout" $((128 + $(kill -l "$sig"))) "$status" "SIG$sig under a PC's stream"
  one_last_save "SIG$sig under a PC's stream"
  pid=""
  wait "$other" 2>/dev/null
  other=""
  done="$(sed -n 's/^done //p' "$root/flood")"
  [ -n "$done" ] || fail "SIG$sig: the PC's stream said nothing: $(tail -3 "$root/flood")"
  kept="$(python3 - "$root/data/ram_device_info" "$word" <<'PY'
import sys
f = open(sys.argv[1], "rb").read()
at = 2 + int(sys.argv[2]) - 0x300
print(f[at] | f[at + 1] << 8)
PY
)"
  [ "$kept" -eq "$done" ] || [ "$kept" -eq $((done + 1)) ] ||
    fail "SIG$sig: the PC was answered \"done\" up to $done, the parameter file keeps $kept"
  echo "ok: SIG$sig ends the controller within 15 s while a PC streams changes; answered $done, kept $kept"
done

# a second controller on another root, on the same ports
start "$root" "$root/stdout"
first=$pid
started "$root"
start "$second" "$second/stdout"
other=$pid
started "$second"
grep -q "TCP port $((5005 + offset)) cannot be opened" "$second/stdout" ||
  fail "the second controller does not say its TCP port is taken: $(tail -5 "$second/stdout")"
kill -INT "$other"
ended "$other"
clean_end "$second/stdout" 130 $? "the second controller"
other=""
pid=$first
echo "ok: a second controller names the port it cannot open"
kill -TERM "$pid"
ended "$pid"
pid=""

# the display goes first: Qt's X11 plugin ends the program with exit(1)
unset QT_QPA_PLATFORM
command -v Xvfb >/dev/null || { echo "skipped: no Xvfb for the display check"; exit 0; }
Xvfb -displayfd 3 -screen 0 800x480x24 -nolisten tcp 3>"$root/display" >"$root/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 1 200); do
  [ -s "$root/display" ] && break
  sleep 0.05
done
[ -s "$root/display" ] || fail "Xvfb did not start: $(tail -3 "$root/xvfb.log")"
export DISPLAY=":$(head -n1 "$root/display")"
start "$root" "$root/stdout" -platform xcb
started "$root"
# the panel is up once the USB watcher, the last thing started, runs
for _ in $(seq 1 600); do
  grep -qx usb-uevent /proc/"$pid"/task/*/comm 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || fail "the controller ended on the display: $(tail -5 "$root/stdout")"
  sleep 0.05
done
kill "$xvfb"
wait "$xvfb" 2>/dev/null
xvfb=""
ended "$pid"
status=$?
pid=""
grep -q "terminate called\|Aborted\|AddressSanitizer" "$root/stdout" && fail "display gone: $(tail -5 "$root/stdout")"
[ "$status" -ne 134 ] && [ "$status" -lt 128 ] || fail "display gone: status $status: $(tail -5 "$root/stdout")"
echo "ok: the display gone, the controller ends with status $status"
