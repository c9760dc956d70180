#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test twice: a normal build (build/)
# and one with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/); then the fuzz
# targets (clang, libFuzzer, build-fuzz/), each for a bounded number of executions.
# Warnings are errors everywhere.
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
echo "== fuzz targets =="
CC=clang CXX=clang++ run_build build-fuzz -DLUMIDOR_FUZZ=ON -DLUMIDOR_BUILD_TESTS=OFF \
    -DLUMIDOR_BUILD_BENCHMARKS=OFF
