#!/usr/bin/env bash
# Set-up, sanitizer build and the whole test suite. Non-zero exit on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DVLX_BUILD_TESTS=ON -DVLX_BUILD_BENCH=ON -DVLX_SANITIZE=ON
cmake --build build-test -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1
cd build-test
ctest --output-on-failure -j "$(nproc)" --timeout 300
