#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test twice: a normal build (build/)
# and one with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/); then the tests
# of the program's threads (label "threads": log, busy work, window, hung driver, console
# check) under ThreadSanitizer (build-tsan/), and the fuzz targets (clang, libFuzzer,
# build-fuzz/), each for a bounded number of executions. Warnings are errors everywhere.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/install-deps.sh

jobs=$(nproc)
run_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIDOR_WERROR=ON "$@"
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

echo "== normal build =="
run_build build
echo "== sanitizer build =="
ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    run_build build-asan -DLUMIDOR_SANITIZE=ON -DLUMIDOR_BUILD_BENCHMARKS=OFF
echo "== thread sanitizer =="
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMIDOR_WERROR=ON \
    -DLUMIDOR_BUILD_BENCHMARKS=OFF -DLUMIDOR_TSAN=ON
cmake --build build-tsan -j "$jobs" --target log_tests ui_busy_tests ui_window_tests ui_live_readers_tests reader_watcher_tests \
    ui_hang_tests check_tests end_signals_tests lumidor_pcscd_isolation
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan-suppressions.txt" \
    ctest --test-dir build-tsan -L threads --output-on-failure --timeout 300
echo "== fuzz targets =="
CC=clang CXX=clang++ run_build build-fuzz -DLUMIDOR_FUZZ=ON -DLUMIDOR_BUILD_TESTS=OFF \
    -DLUMIDOR_BUILD_BENCHMARKS=OFF
