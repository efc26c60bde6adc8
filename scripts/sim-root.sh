# Sourced by the start checks: a fresh board root in $root, and on exit the program
# started there (its pid in $pid) ended and the root removed; fail MESSAGE ends the check.
fail() { echo "FAIL: $*" >&2; exit 1; }
root="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$root"
}
trap cleanup EXIT

# A VLX_PORT_OFFSET whose control ports (TCP 5005, UDP 5008 and 13769, each moved by it)
# are free now, searched from a place this script's pid picks: a port another test holds
# would leave the controller without that link.
free_port_offset() {
  python3 - "$$" <<'PY'
import socket, sys
seed = int(sys.argv[1])
for k in range(300):
    offset = 20000 + (seed * 7 + 211 * k) % 9000
    held = []
    try:
        for port, kind in ((5005, socket.SOCK_STREAM), (5008, socket.SOCK_DGRAM), (13769, socket.SOCK_DGRAM)):
            s = socket.socket(socket.AF_INET, kind)
            held.append(s)
            s.bind(("127.0.0.1", port + offset))
    except OSError:
        continue
    finally:
        for s in held:
            s.close()
    print(offset)
    break
PY
}
