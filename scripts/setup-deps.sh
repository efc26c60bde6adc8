#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those missing.
set -euo pipefail
# clang with its sanitizer and libFuzzer runtimes (a recommendation only, so named): the fuzz
# build and the lock check (-Wthread-safety) of ./test.sh
pkgs=(cmake ninja-build g++ pkg-config qtbase5-dev qtbase5-dev-tools libboost-dev
      libgtest-dev libgmock-dev libbenchmark-dev libssl-dev zlib1g-dev
      clang libclang-rt-dev
      fonts-noto-cjk fonts-dejavu-core python3 locales xvfb edid-decode "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# apt-get waits up to this long for a lock another installation holds (DPkg::Lock::Timeout).
lock_wait=900
locks=(/var/lib/dpkg/lock-frontend /var/lib/dpkg/lock /var/lib/apt/lists/lock /var/cache/apt/archives/lock)

# "PID NAME LOCKFILE" of a process outside the tree of process $1 that holds one of apt's or
# dpkg's locks (both take them as POSIX record locks, listed in /proc/locks); nothing if none.
other_holder() {
  local f dev ino pid p
  for f in "${locks[@]}"; do
    [ -e "$f" ] || continue
    dev=$(stat -c %d "$f")
    ino=$(stat -c %i "$f")
    # "N: [->] POSIX ADVISORY WRITE PID MAJ:MIN:INODE START END", the device numbers in hex
    dev=$(printf '%02x:%02x' $(((dev >> 8) & 0xfff)) $(((dev & 0xff) | ((dev >> 12) & 0xfff00))))
    for pid in $(awk -v id="$dev:$ino" '$(NF-2) == id { print $(NF-3) }' /proc/locks 2>/dev/null); do
      p=$pid
      while [ -n "$p" ] && [ "$p" -gt 1 ] && [ "$p" != "$1" ]; do
        p=$(awk '/^PPid:/ { print $2 }' "/proc/$p/status" 2>/dev/null)
      done
      # ours (apt-get, its dpkg), or gone meanwhile
      if [ "$p" = "$1" ] || [ -z "$p" ]; then continue; fi
      echo "$pid $(cat "/proc/$pid/comm" 2>/dev/null || echo '?') $f"
      return
    done
  done
}

# A quiet apt-get (its output to $log): while it waits for another installation's lock, that
# is said (once per holder), so a long silence after "installing:" has its reason on screen.
said=""
apt_quiet() {
  "$@" >>"$log" 2>&1 &
  local apt=$! holder state
  while state=$(sed 's/.*) //' "/proc/$apt/stat" 2>/dev/null) && [ "${state%% *}" != Z ]; do
    holder=$(other_holder "$apt")
    if [ -n "$holder" ] && [ "${holder%% *}" != "$said" ]; then
      set -- $holder
      echo "waiting for another installation to finish: process $1 ($2) holds $3;" \
           "apt-get waits for it up to $((lock_wait / 60)) minutes"
      said=$1
    fi
    sleep 1
  done
  wait "$apt"
}

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # apt's and dpkg's progress go to a log shown only when the installation fails
  log="$(mktemp)"
  if ! { apt_quiet $SUDO apt-get -o DPkg::Lock::Timeout=$lock_wait update -qq &&
         apt_quiet $SUDO env DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes \
           apt-get -o DPkg::Lock::Timeout=$lock_wait -o Dpkg::Use-Pty=0 install -y -qq --no-install-recommends \
           "${missing[@]}"; }; then
    cat "$log" >&2
    rm -f "$log"
    echo "installing ${missing[*]} failed" >&2
    exit 1
  fi
  rm -f "$log"
fi
