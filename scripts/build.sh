#!/usr/bin/env bash
# Installs what is missing, then configures and builds into build/ on every
# core.
#
#   scripts/build.sh          the program and its icon file
#   scripts/build.sh --tests  the program, its tests and its benchmarks
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --tests ]; then
    scripts/setup.sh test
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON
    cmake --build build -j"$(nproc)"
else
    scripts/setup.sh run
    # A new build folder leaves the tests out, so it needs none of their
    # libraries; one that was set up with them keeps them.
    if [ -f build/CMakeCache.txt ]; then
        cmake -S . -B build
    else
        cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
    fi
    cmake --build build -j"$(nproc)" --target quarlo quarlo_icon
fi
