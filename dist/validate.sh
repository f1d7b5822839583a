#!/bin/sh
# Checks the desktop entry and the AppStream data as desktops and software centres read them;
# a warning fails too.
#   validate.sh DIST_SOURCE_FOLDER
set -eu
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 77; }
done
said="$(desktop-file-validate "$1/org.mattora.Mattora.desktop" 2>&1)" || { echo "$said"; exit 1; }
[ -z "$said" ] || { echo "$said"; exit 1; }
appstreamcli validate --no-net "$1/org.mattora.Mattora.metainfo.xml"
