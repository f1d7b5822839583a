#!/usr/bin/env bash
# How long a photo waits in the hot folder: from the moment a 6000 x 4000 JPEG is completely
# written into the folder that `mattora-batch --watch` watches to the moment its PNG is in place,
# beside one plain `mattora-batch` run on the same photo, both in this one run. The copy's close
# tells the watch (on Linux) that the photo is complete, so it should take about the batch time;
# elsewhere the photo waits for its settle time (1 s) too.
#   bench/batch/watch_latency.sh          (after ./setup.sh test; BUILD_DIR picks the build)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${BUILD_DIR:-$here/../../build}"
runs="${RUNS:-3}"
settle_ms=1000
batch="$build/bin/mattora-batch"
shots="$build/bin/mattora-bench-shots"
[ -x "$batch" ] && [ -x "$shots" ] || { echo "build first: ./setup.sh test" >&2; exit 1; }

work="$(mktemp -d)"
watcher=""
cleanup() {
  [ -z "$watcher" ] || kill -INT "$watcher" 2>/dev/null || true
  [ -z "$watcher" ] || wait "$watcher" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
"$shots" make "$work" >/dev/null
fg="$work/green.jpg"
bg="$work/scene.jpg"
mkdir -p "$work/hot"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The plain batch tool, best of RUNS.
batch_ms=""
for ((i = 0; i < runs; i++)); do
  start=$(now_ms)
  "$batch" --background "$bg" --output-dir "$work/plain" "$fg" 2>/dev/null
  t=$(($(now_ms) - start))
  if [ -z "$batch_ms" ] || [ "$t" -lt "$batch_ms" ]; then batch_ms=$t; fi
done

"$batch" --background "$bg" --output-dir "$work/watched" --watch "$work/hot" 2>"$work/watch.log" &
watcher=$!
sleep 2  # the background is decoded before the watch begins

# Each photo is copied into the folder; the clock starts when the copy has written it all.
watch_ms=""
for ((i = 0; i < runs; i++)); do
  cp "$fg" "$work/hot/shot$i.jpg"
  start=$(now_ms)
  until [ -e "$work/watched/shot$i.png" ]; do sleep 0.01; done
  t=$(($(now_ms) - start))
  if [ -z "$watch_ms" ] || [ "$t" -lt "$watch_ms" ]; then watch_ms=$t; fi
  sleep 1
done

awk -v b="$batch_ms" -v w="$watch_ms" -v s="$settle_ms" 'BEGIN {
  printf "One 6000 x 4000 JPEG keyed over a background into a PNG (best of runs):\n"
  printf "  %-40s %6d ms\n", "mattora-batch, one run", b
  printf "  %-40s %6d ms  (%.2fx the batch run)\n", "--watch, photo in folder -> PNG in place", w, w / b
  printf "  watch / (batch + settle %d ms): %.2fx (target: at most 1x)\n", s, w / (b + s)
}'
