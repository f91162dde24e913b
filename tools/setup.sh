#!/usr/bin/env bash
# Installs every package the package needs to build, test and run its main job.
# The lists live in tools/deps/*.txt, one Debian package per line; this script
# installs only what is missing, so a second run takes a moment.
#   tools/setup.sh [EXTRA ...]   also the lists tools/deps/extra/EXTRA.txt,
#                                 which only some scripts need
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

lists=("$here"/deps/*.txt)
for extra in "$@"; do
  case "$extra" in
    */* | .* | "") echo "setup: no extra list '$extra'" >&2; exit 2 ;;
  esac
  [ -f "$here/deps/extra/$extra.txt" ] || { echo "setup: no extra list '$extra'" >&2; exit 2; }
  lists+=("$here/deps/extra/$extra.txt")
done
wanted=$(sed -e 's/#.*//' "${lists[@]}" | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for pkg in $wanted; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all $(echo "$wanted" | wc -w) packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
