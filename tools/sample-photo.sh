#!/usr/bin/env bash
# Prints the path of one of scikit-image's sample photographs (coffee,
# astronaut, chelsea, ...), unpacked from the python3-skimage package into
# WORK_DIR (the caller removes it):
#
#   photo=$(tools/sample-photo.sh coffee "$work")
set -euo pipefail
name=$1
work=$2
(cd "$work" && { apt-get download python3-skimage >/dev/null 2>&1 || {
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq >&2 && apt-get download python3-skimage >/dev/null; }; })
dpkg-deb -x "$work"/python3-skimage_*.deb "$work/skimage-pkg"
photo=$(find "$work/skimage-pkg" -path "*skimage/data/$name.png" | head -n 1)
[ -n "$photo" ] || { echo "sample-photo: $name.png not found in python3-skimage" >&2; exit 1; }
echo "$photo"
