#!/usr/bin/env bash
# Builds the fuzz preset, writes the seed corpus and fuzzes the photo road.
#   fuzz/run.sh [SECONDS]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
cmake --preset fuzz
cmake --build --preset fuzz
corpus=build-fuzz/corpus
build-fuzz/bin/make_seeds "$corpus"
mkdir -p build-fuzz/findings
# The corpus folder also keeps what the fuzzer learns, so a longer run starts from there.
# A run in a child process goes on past slow inputs (saved as timeout-*) and stops at a crash.
QT_QPA_PLATFORM=offscreen build-fuzz/bin/photo_fuzzer "$corpus" \
  -fork=1 -ignore_timeouts=1 -ignore_ooms=0 -ignore_crashes=0 \
  -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=20 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 2>&1 | grep -v '^Running Maskout9$' ||
  true  # the findings below decide
shopt -s nullglob
slow=(build-fuzz/findings/timeout-*)
bad=(build-fuzz/findings/{crash,leak,oom}-*)
((${#slow[@]} == 0)) || echo "fuzz: slow inputs (more than 20 s): ${slow[*]}"
((${#bad[@]} == 0)) || { echo "fuzz: failing inputs: ${bad[*]}"; exit 1; }
