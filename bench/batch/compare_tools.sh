#!/usr/bin/env bash
# Times mattora-batch against ffmpeg (chromakey + overlay) and ImageMagick (-fuzz -transparent,
# then -composite) doing the same job on one 6000 x 4000 green-screen photo: key the green
# backdrop, compose over a background of the same size, write a PNG. Then a run of ten such
# photos over one background, against one plain decode of the JPEG plus one write of its PNG.
# Every figure is the best of RUNS (default 3) wall-clock runs, all in this one run.
#   bench/batch/compare_tools.sh          (after ./setup.sh test; BUILD_DIR picks the build)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${BUILD_DIR:-$here/../../build}"
runs="${RUNS:-3}"
batch="$build/bin/mattora-batch"
shots="$build/bin/mattora-bench-shots"
[ -x "$batch" ] && [ -x "$shots" ] || { echo "build first: ./setup.sh test" >&2; exit 1; }

missing=()
command -v ffmpeg >/dev/null || missing+=(ffmpeg)
command -v convert >/dev/null || missing+=(imagemagick)
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$shots" make "$work"
fg="$work/green.jpg"
bg="$work/scene.jpg"
key="0x28BE46"  # the backdrop's green at the middle of the shot

# best_ms CMD...: the shortest wall time of RUNS runs, in milliseconds.
best_ms() {
  local best="" start end t
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(date +%s%N)
    t=$(((end - start) / 1000000))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

mattora=$(best_ms "$batch" --background "$bg" --output-dir "$work/m" "$fg")
ffmpeg_ms=$(best_ms ffmpeg -nostdin -y -loglevel error -i "$bg" -i "$fg" -filter_complex \
  "[1:v]chromakey=$key:0.18:0.05[k];[0:v][k]overlay" -frames:v 1 -update 1 "$work/ffmpeg.png")
magick_ms=$(best_ms convert "$bg" \( "$fg" -fuzz 22% -transparent "#${key#0x}" \) \
  -composite "$work/magick.png")

for n in 01 02 03 04 05 06 07 08 09 10; do cp "$fg" "$work/shot$n.jpg"; done
ten=$(best_ms "$batch" --background "$bg" --output-dir "$work/ten" "$work"/shot*.jpg)
read -r decode write < <("$shots" baseline "$fg" "$work/m/green.png")

awk -v m="$mattora" -v f="$ffmpeg_ms" -v i="$magick_ms" -v ten="$ten" -v d="$decode" \
  -v w="$write" 'BEGIN {
  faster = f < i ? f : i
  printf "One photo, 6000 x 4000, keyed over a background into a PNG (best of runs):\n"
  printf "  %-28s %8d ms\n", "mattora-batch", m
  printf "  %-28s %8d ms  (%.1fx mattora-batch)\n", "ffmpeg chromakey+overlay", f, f / m
  printf "  %-28s %8d ms  (%.1fx mattora-batch)\n", "ImageMagick convert", i, i / m
  printf "  faster tool / mattora-batch: %.1fx (target: at least 4x)\n\n", faster / m
  printf "Ten photos, one background:\n"
  printf "  %-28s %8d ms, %.0f ms a photo\n", "mattora-batch", ten, ten / 10
  printf "  %-28s %8.0f ms (decode %.0f + write %.0f)\n", "plain decode + PNG write", d + w, d, w
  printf "  a photo / (decode + write): %.2fx (target: at most 1.5x)\n", ten / 10 / (d + w)
}'
