#!/usr/bin/env bash
# Builds everything and runs every test: the suite (the install, the package
# and the rows on a real X server included), then the libraries and their
# tests built with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# with a short run of each fuzz target. The rows labelled "long" run once,
# in the first suite.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
scripts/build.sh --tests

echo "== Tests"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Libraries, their tests and the fuzz targets with AddressSanitizer and UndefinedBehaviorSanitizer"
# clang builds the instrumented tree in half the time GCC takes, and with
# libFuzzer's coverage marks the same tree serves the fuzz targets.
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUARLO_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure -j"$jobs" --label-exclude long)
