#!/usr/bin/env bash
# Set-up, build, and the controller on the simulated board with its front panel.
# The data folder is run/root inside the checkout (VLX_ROOT sets another); the run's own
# files (output, VNC server's display and log) are kept in the root's run folder. When the
# simulated board reboots (exit status 42), the controller is started again, as the device would.
# Without a display the panel is served by a VNC X server on loopback only
# (every address with VLX_LISTEN_ANY=1, as the control protocol).
set -uo pipefail
cd "$(dirname "$0")"
export VLX_BOARD=sim
export VLX_ROOT="${VLX_ROOT:-$PWD/run/root}"
# Sources plugged into the simulated board's inputs at power-up (board-control "signal").
export VLX_SIM_SIGNALS="${VLX_SIM_SIGNALS-HDMI1 1920x1080@60; HDMI3 3840x2160@60}"
mkdir -p "$VLX_ROOT/run"
rundir="$(cd "$VLX_ROOT/run" && pwd)"
# One controller per root (it holds this lock): leave a running one's files alone.
if ! flock -n "$rundir/vlxH71N.lock" true; then
  echo "another controller runs on the root $VLX_ROOT: stop it first, or set VLX_ROOT"
  exit 1
fi
# Only then the build: a second run on this checkout must not rebuild the program the first runs.
# socat: scripts/board and the serial links by hand (docs/board-control.md)
scripts/setup-deps.sh tigervnc-standalone-server socat || exit 1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
cmake --build build -j "${VLX_JOBS:-$(nproc)}" || exit 1

# The scaler's register dumps and the rest of the controller's standard output, through one
# writer for every start (scripts/controller-output.sh: turned over at 16 MiB).
out="$rundir/controller.out"
. scripts/controller-output.sh
controller_output "$out"
log="$VLX_ROOT/data/kavelkv/log/zufEnglneLog"

# However the script ends (Ctrl-C included), the controller and then the VNC server end
# with it. The controller quits on SIGINT and SIGTERM; the VNC server has a session of its
# own, so that Ctrl-C does not take the display away from under a controller still drawing.
xvnc=""
controller=""
stop() {
  local p
  for p in $controller $xvnc; do
    kill "$p" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
}
trap stop EXIT
# Ends as the signal's default would, after the clean-up, so a calling shell sees it.
for sig in INT TERM HUP; do
  trap "stop; trap - $sig EXIT; kill -$sig \$\$" "$sig"
done

announce=""
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
  platform=()  # the caller chose the Qt platform
elif [ -n "${DISPLAY:-}" ]; then
  platform=(-platform xcb)
else
  port="${VLX_VNC_PORT:-$((5900 + ${VLX_PORT_OFFSET:-0}))}"
  if [ "$port" -gt 65535 ]; then
    echo "VNC port $port (5900 + VLX_PORT_OFFSET) does not exist: set VLX_VNC_PORT"
    exit 1
  fi
  host=localhost
  scope=(-localhost -interface 127.0.0.1)
  if [ "${VLX_LISTEN_ANY:-}" = 1 ]; then
    host="<this machine>"
    scope=()
  fi
  displayfile="$rundir/xvnc.display"
  : >"$displayfile"
  setsid Xvnc -displayfd 5 -geometry 800x480 -depth 24 -rfbport "$port" "${scope[@]}" -SecurityTypes None \
       -AlwaysShared 5>"$displayfile" >"$rundir/xvnc.log" 2>&1 &
  xvnc=$!
  for _ in $(seq 100); do
    [ -s "$displayfile" ] && break
    kill -0 "$xvnc" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$displayfile" ]; then
    echo "the VNC server did not start (port $port taken?): see $rundir/xvnc.log"
    exit 1
  fi
  export DISPLAY=":$(head -n1 "$displayfile")"
  platform=(-platform xcb)
  announce="front panel: connect a VNC viewer to $host:$port (xtightvncviewer $host::$port)"
fi
echo "controller output: $out"
echo "board-control channel: $rundir/board.sock"
first=1
while true; do
  logsize=$(stat -c %s "$log" 2>/dev/null || echo 0)
  build/vlxH71N ${platform[@]+"${platform[@]}"} "$@" >&3 &
  controller=$!
  if [ -n "$first" ]; then
    first=""
    # Board control answers first; the control links open their ports just after it (the
    # TCP server is the last): the log of this start says whether every port opened.
    fresh=""
    for _ in $(seq 200); do
      fresh="$(tail -c +$((logsize + 1)) "$log" 2>/dev/null)"
      grep -q "TCP server" <<<"$fresh" && scripts/board help >/dev/null 2>&1 && break
      kill -0 "$controller" 2>/dev/null || break
      sleep 0.1
    done
    closed="$(grep "port [0-9]* cannot be opened" <<<"$fresh" | sed 's/.*# TESKMSG # //')"
    if [ -n "$closed" ]; then
      echo "WARNING: the controller runs without these control links, their ports are held by another"
      echo "program (a controller of another root? give each its own VLX_PORT_OFFSET):"
      sed 's/^/  /' <<<"$closed"
    fi
    if [ -n "$announce" ]; then
      kill -0 "$controller" 2>/dev/null && echo "$announce"
      announce=""
    fi
  fi
  wait "$controller"
  status=$?
  controller=""
  if [ "$status" -eq 42 ]; then
    echo "simulated board rebooted; starting the controller again"
    continue
  fi
  exit "$status"
done
