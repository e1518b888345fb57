#!/usr/bin/env bash
# Runs a libFuzzer target for a bounded time, starting from the committed corpus; new inputs it
# finds go to a scratch copy, so the source tree is left alone.
set -euo pipefail
fuzzer=${1:?usage: run-fuzzer.sh FUZZER CORPUS SECONDS}
corpus=${2:?}
seconds=${3:?}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$corpus"/. "$scratch"/
"$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$scratch/" "$scratch" 2>&1 | tail -n 15
