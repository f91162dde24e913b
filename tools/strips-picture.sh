#!/usr/bin/env bash
# Makes the README's picture of a 4x6 sheet cut into 2-inch strips:
# tools/preview-job.sh prints the sample photograph with
# -o PageSize=102x153mm -o Zpx2InchCut=Enable, and the stream preview's
# sheet (with its dashed cut lines) is shrunk to docs/images/strips-4x6.png.
#
#   tools/strips-picture.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/preview-job.sh" -o PageSize=102x153mm -o Zpx2InchCut=Enable
mkdir -p "$top/docs/images"
vipsthumbnail "$top/out/preview-job/preview-sheet-1.png" --size 240x \
  -o "$top/docs/images/strips-4x6.png[strip,compression=9,palette]"
echo "strips-picture: wrote docs/images/strips-4x6.png"
