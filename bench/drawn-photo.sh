#!/bin/sh
# Draws the benchmarks' 12-megapixel JPEG (4000 x 3000, gradients and fine
# detail, with Ghostscript's sRGB profile) into OUTPUT:
#
#   bench/drawn-photo.sh OUTPUT
set -eu
out=$1
cat > "$out.ps" <<'PS'
%!PS
<< /PageSize [4000 3000] >> setpagedevice
0 1 299 { /y exch def 0 1 399 { /x exch def
  x 400 div y 300 div x y add 7 mod 7 div setrgbcolor
  x 10 mul y 10 mul 10 10 rectfill } for } for
showpage
PS
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=jpeg -dJPEGQ=90 -r72 -g4000x3000 -sOutputFile="$out" "$out.ps"
rm -f "$out.ps"
