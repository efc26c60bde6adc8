#!/usr/bin/env bash
# Set-up, sanitizer build and the whole test suite. Non-zero exit on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup-deps.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DVLX_BUILD_TESTS=ON -DVLX_BUILD_BENCH=ON -DVLX_SANITIZE=ON
cmake --build build-test -j "${VLX_JOBS:-$(nproc)}"
export QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1

# libFuzzer targets of the control protocol (clang comes with scripts/setup-deps.sh), built
# before the tests: the build compiles the controller's sources with clang's lock check, so the
# lock check's test takes those as checked instead of compiling them again.
if command -v clang++ >/dev/null 2>&1; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DVLX_SANITIZE=ON -DVLX_BUILD_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "${VLX_JOBS:-$(nproc)}" --target fuzz_deframer fuzz_message_deal
  export VLX_TSA_CLANG_BUILD="$PWD/build-fuzz"
fi

# A failed test gets a second run; one that needed it is listed under FLAKY.
# Each test's time limit is VLX_TEST_TIMEOUT (tests/CMakeLists.txt).
scripts/ctest-retry.sh build-test --output-on-failure -j "${VLX_JOBS:-$(nproc)}"

# A bounded run of each fuzz target; a crash or a sanitizer report fails the script.
if command -v clang++ >/dev/null 2>&1; then
  for t in fuzz_deframer fuzz_message_deal; do
    mkdir -p build-fuzz/artifacts
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      build-fuzz/tests/fuzz/$t -max_total_time="${VLX_FUZZ_SECONDS:-20}" -print_final_stats=0 \
      -artifact_prefix=build-fuzz/artifacts/ 2>build-fuzz/$t.log \
      || { tail -40 build-fuzz/$t.log; echo "fuzzer $t failed"; exit 1; }
    echo "fuzzer $t: $(grep -o 'Done [0-9]* runs' build-fuzz/$t.log)"
  done
else
  echo "clang++ not found: the fuzz targets and the lock check cannot run" >&2
  exit 1
fi
