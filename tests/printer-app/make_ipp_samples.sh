#!/bin/sh
# Makes the documents ipp-everywhere.test refers to in folder $1: real
# photos (color.jpg, gray.jpg), PDF documents (A4, Letter) and PWG raster
# pages (4x6, A4, Letter) in sgray_8 and srgb_8 at 300 and 600 dpi, which
# the RT-50 prints, and empty placeholders for the other resolutions, colour types and documents (ipptool gives up on a
# whole file when one of them is missing, even for tests it skips).
set -eu
out=$1
tests=${IPPTOOL_DIR:-/usr/share/cups/ipptool}
mkdir -p "$out"
cd "$out"

for name in $(grep -ho 'FILE [^ ]*\|SKIP-IF-MISSING [^ ]*' "$tests"/ipp-everywhere.test "$tests"/ipp-2.0.test \
                "$tests"/ipp-1.1.test | awk '{print $2}' | grep -v '^\$' | sort -u); do
  mkdir -p "$(dirname "$name")"
  : > "$name"
done

# A photo-like picture on a page of WxH points, and a document page.
picture() {
  cat <<PS
%!PS
<< /PageSize [$1 $2] >> setpagedevice
0 1 71 { /i exch def i 72 div 1 i 144 div sub 0.3 setrgbcolor 0 i $2 72 div mul $1 $2 72 div rectfill } for
1 0 0 setrgbcolor 24 300 80 80 rectfill
0 0.6 0 setrgbcolor 104 300 80 80 rectfill
0 0 1 setrgbcolor 184 300 80 80 rectfill
1 1 1 setrgbcolor 60 60 168 60 rectfill
showpage
PS
}
document() {
  cat <<PS
%!PS
<< /PageSize [$1 $2] >> setpagedevice
/Helvetica findfont 24 scalefont setfont
0 0 0 setrgbcolor 72 $2 100 sub moveto (VANTORA RT-50 test page) show
0.2 0.4 0.8 setrgbcolor 72 72 $1 144 sub $2 288 sub rectfill
showpage
PS
}
picture 288 432 > photo.ps
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=jpeg -r100 -dJPEGQ=90 -sOutputFile=color.jpg photo.ps
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=jpeggray -r100 -dJPEGQ=90 -sOutputFile=gray.jpg photo.ps
document 595 842 > a4.ps
document 612 792 > letter.ps
for sample in 300:sgray-8 300:srgb-8 600:sgray-8 600:srgb-8; do
  dpi=${sample%%:*}
  type=${sample##*:}
  space=18   # sGray
  [ "$type" = srgb-8 ] && space=19
  dir=pwg-raster-samples-${dpi}dpi/$type
  for doc in color.jpg-4x6:photo gray.jpg-4x6:photo document-a4:a4 onepage-a4:a4 document-letter:letter \
             onepage-letter:letter; do
    gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pwgraster -r$dpi -dcupsColorSpace=$space -dcupsBitsPerColor=8 \
       -sOutputFile="$dir/${doc%%:*}-$type-${dpi}dpi.pwg" "${doc##*:}.ps" > /dev/null 2>&1
  done
done
# The PDF documents, for a printer that takes PDF.
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=document-a4.pdf a4.ps
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=document-letter.pdf letter.ps
rm -f photo.ps a4.ps letter.ps
