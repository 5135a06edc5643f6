#!/usr/bin/env bash
# run_fuzzer.sh FUZZER CORPUS SECONDS: fuzzes from the corpus for SECONDS;
# new inputs go to a scratch folder so the committed corpus stays as it is.
set -euo pipefail
fuzzer=$1 corpus=$2 seconds=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$scratch/" "$scratch" "$corpus" 2>&1 | tail -n 5
