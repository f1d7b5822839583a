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
QT_QPA_PLATFORM=offscreen build-fuzz/bin/photo_fuzzer "$corpus" \
  -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=20 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1
