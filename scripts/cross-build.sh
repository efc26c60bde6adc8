#!/usr/bin/env bash
# The device build: the controller and every test for the board's 32-bit ARM
# hard-float Linux (Debian armhf), a plain Debug build in build-armhf/, then the
# tests under qemu-arm on the simulated board (offscreen Qt). Installs only what
# is missing.
#   scripts/cross-build.sh                   build and test
#   scripts/cross-build.sh --no-test         build only
#   scripts/cross-build.sh --pc-log FILE     also fail on a compiler warning that the
#                                            PC build's output in FILE does not have
set -euo pipefail
cd "$(dirname "$0")/.."

run_tests=1
pc_log=""
while [ $# -gt 0 ]; do
  case "$1" in
    --no-test) run_tests=0 ;;
    --pc-log) pc_log="${2:?--pc-log needs a file}"; shift ;;
    *) echo "usage: $0 [--no-test] [--pc-log FILE]" >&2; exit 2 ;;
  esac
  shift
done

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx armhf; then
  echo "adding the armhf architecture to dpkg"
  $SUDO dpkg --add-architecture armhf
fi
# Host tools (cmake, ninja, moc/uic/rcc) and the armhf side: the cross compiler
# with the kernel's UAPI headers for ARM, the target's libraries through multiarch,
# and the user-mode emulator.
scripts/setup-deps.sh crossbuild-essential-armhf qemu-user \
  qtbase5-dev:armhf libboost-dev:armhf libgtest-dev:armhf libgmock-dev:armhf \
  libbenchmark-dev:armhf libssl-dev:armhf zlib1g-dev:armhf

start=$SECONDS
cmake -S . -B build-armhf -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
      -DVLX_BUILD_TESTS=ON -DVLX_BUILD_BENCH=ON
cmake --build build-armhf -j "${VLX_JOBS:-$(nproc)}" 2>&1 | tee build-armhf/build.log
echo "armhf build: $((SECONDS - start)) s"

if [ -n "$pc_log" ]; then
  # Same sources, same paths: a warning is the same line in both outputs.
  warnings() { grep -o '[^ ]*: warning: .*' "$1" | sort -u || true; }
  extra="$(comm -13 <(warnings "$pc_log") <(warnings build-armhf/build.log))"
  if [ -n "$extra" ]; then
    echo "warnings of the armhf build that the PC build does not have:" >&2
    echo "$extra" >&2
    exit 1
  fi
  echo "armhf build: no warning beyond the PC build's"
fi
[ "$run_tests" -eq 1 ] || exit 0

start=$SECONDS
export QT_QPA_PLATFORM=offscreen
# each test's limit is the emulated build's VLX_TEST_TIMEOUT (tests/CMakeLists.txt)
scripts/ctest-retry.sh build-armhf --output-on-failure -j "${VLX_JOBS:-$(nproc)}"
echo "armhf tests under qemu-arm: $((SECONDS - start)) s"
