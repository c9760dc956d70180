#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test with the presets of
# CMakePresets.json: a normal build (build/), one with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), the tests of the program's threads (label
# "threads": log, busy work, window, hung driver, console check) under ThreadSanitizer
# (build-tsan/), and the fuzz targets (clang, libFuzzer, build-fuzz/), each for a bounded
# number of executions. Warnings are errors everywhere.
set -euo pipefail
cd "$(dirname "$0")/.."

./tools/install-deps.sh

jobs=$(nproc)
for preset in normal sanitize tsan fuzz; do
    echo "== $preset =="
    cmake --preset "$preset"
    cmake --build --preset "$preset" -j "$jobs"
    # The ThreadSanitizer runs one at a time: each already keeps both cores busy.
    if [ "$preset" = tsan ]; then
        ctest --preset "$preset"
    else
        ctest --preset "$preset" -j "$jobs"
    fi
done
