# Sourced by the start checks: a fresh board root in $root, and on exit the program
# started there (its pid in $pid) ended and the root removed.
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
