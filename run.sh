#!/usr/bin/env bash
# Set-up, build, and the controller on the simulated board with its front panel.
# The data folder is run/root inside the checkout. When the simulated board
# reboots (exit status 42), the controller is started again, as the device would.
# Without a display the panel is served by a VNC X server on loopback only
# (every address with VLX_LISTEN_ANY=1, as the control protocol).
set -uo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh tigervnc-standalone-server || exit 1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
cmake --build build -j "${VLX_JOBS:-$(nproc)}" || exit 1

export VLX_BOARD=sim
export VLX_ROOT="${VLX_ROOT:-$PWD/run/root}"
# Sources plugged into the simulated board's inputs at power-up (board-control "signal").
export VLX_SIM_SIGNALS="${VLX_SIM_SIGNALS-HDMI1 1920x1080@60; HDMI3 3840x2160@60}"
mkdir -p "$VLX_ROOT" run
# The scaler's register dumps and the rest of the controller's standard output.
out="$PWD/run/controller.out"
: >"$out"

xvnc=""
stop_xvnc() { [ -n "$xvnc" ] && kill "$xvnc" 2>/dev/null && wait "$xvnc" 2>/dev/null; }
trap stop_xvnc EXIT
trap 'exit 130' INT TERM

announce=""
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
  platform=()  # the caller chose the Qt platform
elif [ -n "${DISPLAY:-}" ]; then
  platform=(-platform xcb)
else
  port="${VLX_VNC_PORT:-5900}"
  host=localhost
  scope=(-localhost -interface 127.0.0.1)
  if [ "${VLX_LISTEN_ANY:-}" = 1 ]; then
    host="<this machine>"
    scope=()
  fi
  displayfile="$PWD/run/xvnc.display"
  : >"$displayfile"
  Xvnc -displayfd 5 -geometry 800x480 -depth 24 -rfbport "$port" "${scope[@]}" -SecurityTypes None \
       -AlwaysShared 5>"$displayfile" >"$PWD/run/xvnc.log" 2>&1 &
  xvnc=$!
  for _ in $(seq 100); do
    [ -s "$displayfile" ] && break
    kill -0 "$xvnc" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$displayfile" ]; then
    echo "the VNC server did not start (port $port taken?): see run/xvnc.log"
    exit 1
  fi
  export DISPLAY=":$(head -n1 "$displayfile")"
  platform=(-platform xcb)
  announce="front panel: connect a VNC viewer to $host:$port (xtightvncviewer $host::$port)"
fi
echo "controller output: run/controller.out"
echo "board-control channel: $VLX_ROOT/run/board.sock"
while true; do
  build/vlxH71N ${platform[@]+"${platform[@]}"} "$@" >>"$out" &
  controller=$!
  if [ -n "$announce" ]; then
    # the panel is there once board control answers (the window follows within the second)
    for _ in $(seq 100); do
      [ -S "$VLX_ROOT/run/board.sock" ] && scripts/board help >/dev/null 2>&1 && break
      kill -0 "$controller" 2>/dev/null || break
      sleep 0.1
    done
    echo "$announce"
    announce=""
  fi
  wait "$controller"
  status=$?
  if [ "$status" -eq 42 ]; then
    echo "simulated board rebooted; starting the controller again"
    continue
  fi
  exit "$status"
done
