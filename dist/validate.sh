#!/bin/sh
# Checks the desktop entry and the AppStream data as desktops and software centres read them,
# and the manual page as man formats it; a warning fails too.
#   validate.sh DIST_SOURCE_FOLDER
set -eu
for tool in desktop-file-validate appstreamcli groff; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 77; }
done
said="$(desktop-file-validate "$1/org.mattora.Mattora.desktop" 2>&1)" || { echo "$said"; exit 1; }
[ -z "$said" ] || { echo "$said"; exit 1; }
appstreamcli validate --no-net "$1/org.mattora.Mattora.metainfo.xml"
# "Open With" offers Mattora for photos, and hands it the files chosen.
entry="$1/org.mattora.Mattora.desktop"
grep -qx 'Exec=mattora %F' "$entry" || { echo "the menu entry takes no files"; exit 1; }
for type in image/jpeg image/png image/tiff image/bmp image/x-xpixmap; do
  grep -q "^MimeType=.*$type;" "$entry" || { echo "the menu entry lacks $type"; exit 1; }
done
said="$(groff -man -ww -z "$1/mattora.1" 2>&1)"
[ -z "$said" ] || { echo "mattora.1: $said"; exit 1; }
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$1/copyright" || { echo "copyright: not in Debian's format"; exit 1; }
