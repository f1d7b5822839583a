#!/usr/bin/env bash
# Which pages the batch tool should take its images from, measured rather than assumed: one
# 6000 x 4000 green-screen photo keyed over a background of the same size into a PNG, with huge
# pages preferred (what mattora-batch does by itself: glibc.malloc.hugetlb=1, transparent huge
# pages on madvise) and with plain pages (glibc.malloc.hugetlb=0), beside ffmpeg doing the same
# job; first in fresh memory (page cache dropped and memory compacted, where that is allowed),
# then in memory fragmented by reading FRAGMENT_GB gigabytes of files first (default: all the
# memory available but 1.5 GB), so that the page cache fills it as on a desktop that has been in
# use for hours and every large allocation must be reclaimed from it. Each figure is the median of RUNS (default 5) runs:
# wall and system seconds, and the peak resident memory of mattora-batch.
#   bench/batch/pages.sh          (after ./setup.sh test; BUILD_DIR picks the build)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${BUILD_DIR:-$here/../../build}"
runs="${RUNS:-5}"
available_kb=$(awk '/^MemAvailable:/ {print $2}' /proc/meminfo)
fragment_gb="${FRAGMENT_GB:-$(((available_kb / 1024 - 1536) / 1024))}"
batch="$build/bin/mattora-batch"
shots="$build/bin/mattora-bench-shots"
[ -x "$batch" ] && [ -x "$shots" ] || { echo "build first: ./setup.sh test" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is needed: apt-get install ffmpeg" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed: apt-get install time" >&2; exit 1; }

# On disk, not in a memory file system: reading the filler must fill the page cache.
work="$(mktemp -d "${TMPDIR_ON_DISK:-/var/tmp}/mattora-pages.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$shots" make "$work"
fg="$work/green.jpg"
bg="$work/scene.jpg"
key="0x28BE46"

fresh_memory() {
  sync
  if [ -w /proc/sys/vm/drop_caches ]; then
    echo 3 >/proc/sys/vm/drop_caches
    echo 1 >/proc/sys/vm/compact_memory 2>/dev/null || true
  else
    echo "(not allowed to drop the page cache here: 'fresh' is this machine as it is)" >&2
  fi
}

fragment_memory() {
  local f="$work/filler"
  # A sparse file: reading its holes fills the page cache as well as data would.
  [ -f "$f" ] || truncate -s "${fragment_gb}G" "$f"
  cat "$f" >/dev/null
}

# median_of CMD...: "wall system maxrss_kb" medians over RUNS runs.
median_of() {
  local out="$work/times"
  : >"$out"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "%e %S %M" -a -o "$out" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  done
  local k=$(((runs + 1) / 2)) col
  for col in 1 2 3; do
    cut -d' ' -f"$col" "$out" | sort -g | sed -n "${k}p"
  done | paste -sd' '
}

# Commands, not shell functions: /usr/bin/time runs them.
mattora=("$batch" --background "$bg" --output-dir "$work/m" "$fg")
ffmpeg_job=(ffmpeg -nostdin -y -loglevel error -i "$bg" -i "$fg" -filter_complex
  "[1:v]chromakey=$key:0.18:0.05[k];[0:v][k]overlay" -frames:v 1 -update 1 "$work/ffmpeg.png")

printf "One photo, 6000 x 4000, over a background into a PNG; median of %d runs\n" "$runs"
printf "%-11s %-22s %8s %8s %9s %12s\n" state strategy wall_s sys_s peak_MiB "ffmpeg/this"
for state in fresh fragmented; do
  if [ "$state" = fresh ]; then fresh_memory; else fragment_memory; fi
  read -r fw fs _ < <(median_of "${ffmpeg_job[@]}")
  for strategy in huge plain; do
    if [ "$state" = fresh ]; then fresh_memory; else fragment_memory; fi
    read -r w s m < <(median_of env GLIBC_TUNABLES="glibc.malloc.hugetlb=$([ $strategy = huge ] && echo 1 || echo 0)" "${mattora[@]}")
    awk -v st="$state" -v sg="$strategy" -v w="$w" -v s="$s" -v m="$m" -v f="$fw" 'BEGIN {
      printf "%-11s %-22s %8.2f %8.2f %9.0f %11.1fx\n", st, sg " pages", w, s, m / 1024, f / w }'
  done
  printf "%-11s %-22s %8.2f %8.2f\n" "$state" "ffmpeg" "$fw" "$fs"
done
