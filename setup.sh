#!/usr/bin/env bash
# Installs what is missing on Debian 12, builds Mattora, then starts it or runs the tests.
#   ./setup.sh run             build and start the program with its sample photos
#   ./setup.sh test [PRESET]   build and run every test (PRESET from CMakePresets.json:
#                              default, sanitize or nodispatch)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
what="${1:-run}"
preset="${2:-default}"

packages=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev
  libgtest-dev libbenchmark-dev libdeflate-dev libjpeg-dev zlib1g-dev
  fonts-liberation ffmpeg
  desktop-file-utils appstream dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

cd "$here"
cmake --preset "$preset"
cmake --build --preset "$preset" --parallel "$(nproc)"

case "$what" in
  run)
    # The window icon is read from the working folder, so start beside the program.
    cd "$here/build/bin"
    exec ./mattora
    ;;
  test)
    ctest --preset "$preset" --parallel "$(nproc)"
    ;;
  *)
    echo "usage: $0 run | test [default|sanitize|nodispatch]" >&2
    exit 2
    ;;
esac
