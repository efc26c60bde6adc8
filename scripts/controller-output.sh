# Sourced by run.sh (and its check): controller_output FILE makes descriptor 3 the one writer of
# the controller's standard output for every start. FILE and FILE.1 begin empty; past 16 MiB
# FILE becomes FILE.1 and a new FILE begins (a PC asking for dumps all the time writes about
# 1 MB a second). The writer's pid is in $output_writer.
controller_output() {
  : >"$1"
  rm -f "$1.1"
  exec 3> >(exec python3 "$(dirname "${BASH_SOURCE[0]}")/rotate-output.py" "$1" $((16 << 20)))
  output_writer=$!
}
