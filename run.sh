#!/usr/bin/env bash
# Set-up, build, and the controller on the simulated board with its front panel.
# The data folder is run/root inside the checkout. When the simulated board
# reboots (exit status 42), the controller is started again, as the device would.
set -uo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh || exit 1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo || exit 1
cmake --build build -j "$(nproc)" || exit 1

export VLX_BOARD=sim
export VLX_ROOT="${VLX_ROOT:-$PWD/run/root}"
# Sources plugged into the simulated board's inputs at power-up (board-control "signal").
export VLX_SIM_SIGNALS="${VLX_SIM_SIGNALS-HDMI1 1920x1080@60; HDMI3 3840x2160@60}"
mkdir -p "$VLX_ROOT"
if [ -n "${QT_QPA_PLATFORM:-}" ]; then
  platform=()  # the caller chose the Qt platform
elif [ -n "${DISPLAY:-}" ]; then
  platform=(-platform xcb)
else
  port="${VLX_VNC_PORT:-5900}"
  platform=(-platform "vnc:size=800x480:port=$port")
  echo "front panel: connect a VNC viewer to localhost:$port"
fi
echo "board-control channel: $VLX_ROOT/run/board.sock"
while true; do
  build/vlxH71N ${platform[@]+"${platform[@]}"} "$@"
  status=$?
  if [ "$status" -eq 42 ]; then
    echo "simulated board rebooted; starting the controller again"
    continue
  fi
  exit "$status"
done
