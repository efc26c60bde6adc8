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
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  # apt's and dpkg's progress go to a log shown only when the installation fails
  log="$(mktemp)"
  if ! { $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq &&
         $SUDO env DEBIAN_FRONTEND=noninteractive DEBCONF_NOWARNINGS=yes \
           apt-get -o DPkg::Lock::Timeout=900 -o Dpkg::Use-Pty=0 install -y -qq --no-install-recommends \
           "${missing[@]}"; } >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "installing ${missing[*]} failed" >&2
    exit 1
  fi
  rm -f "$log"
fi
