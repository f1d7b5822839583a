#!/bin/bash
# Builds the Debian package of a build folder with cpack and checks what it installs where.
#   check_package.sh BUILD_FOLDER WORK_FOLDER
set -euo pipefail
build="$1"
work="$2"
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work") \
  >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
debs=("$work"/mattora_*.deb)
[ -f "${debs[0]}" ] || { echo "cpack made no mattora_*.deb in $work" >&2; exit 1; }
dpkg-deb -c "${debs[0]}" | awk '{ sub(/^\./, "", $6); print $6 }' >"$work/contents"

failed=0
expected=(
  /usr/bin/mattora /usr/bin/mattora-batch
  # the program finds these at ../share/mattora from its own folder
  /usr/share/mattora/1green.JPG /usr/share/mattora/blue1.JPG /usr/share/mattora/Bkg/beach.JPG /usr/share/mattora/Plates/1green.JPG
  /usr/share/mattora/help/index.html
  /usr/share/man/man1/mattora.1 /usr/share/man/man1/mattora-batch.1
  /usr/share/doc/mattora/copyright
  /usr/share/applications/org.mattora.Mattora.desktop
  /usr/share/metainfo/org.mattora.Mattora.metainfo.xml
)
for n in 16 22 24 32 48 64 128 256; do
  expected+=("/usr/share/icons/hicolor/${n}x${n}/apps/mattora.png")
done
for path in "${expected[@]}"; do
  grep -qxF "$path" "$work/contents" || { echo "missing from the package: $path"; failed=1; }
done
stray="$(grep -v -e '^/usr/$' -e '^/$' -e '^/usr/bin/' -e '^/usr/share/' "$work/contents" || true)"
[ -z "$stray" ] || { echo "installed outside /usr/bin and /usr/share:"; echo "$stray"; failed=1; }

# dpkg-shlibdeps found the libraries the programs link.
depends="$(dpkg-deb -f "${debs[0]}" Depends)"
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6; do
  [[ "$depends" == *"$lib"* ]] || { echo "Depends lacks $lib: $depends"; failed=1; }
done
exit "$failed"
