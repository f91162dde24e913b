#!/bin/sh
# Makes the photo front end's test photos in folder $1 from a real
# photograph $2 ("coffee" by Rachel Michetti, CC0, from scikit-image's data),
# with libvips' command line, exiftool for the orientation tags,
# Ghostscript's ICC profiles and make_heif_orientation ($3) for HEIF's own
# transform properties.
set -eu
out=$1
photo=$2
heif_orientation=$3
icc=/usr/share/color/icc/ghostscript
here=$(cd "$(dirname "$0")" && pwd)
cd "$out"

# The scene as it should print: portrait, its top-left corner marked pure
# green. The eight orientations store other pixels, which the tag turns
# back into the scene.
vips rot "$photo" scene.v d90
vips draw_rect scene.v "0 255 0" 0 0 80 96 --fill
store() {
  n=$1
  shift
  "$@"
  vips copy stored.v "orientation-$n.jpg[Q=92,strip]"
  exiftool -q -overwrite_original "-Orientation#=$n" "orientation-$n.jpg"
}
store 1 vips copy scene.v stored.v
store 2 vips flip scene.v stored.v horizontal
store 3 vips rot scene.v stored.v d180
store 4 vips flip scene.v stored.v vertical
store 5 sh -c 'vips rot scene.v turned.v d90 && vips flip turned.v stored.v horizontal'
store 6 vips rot scene.v stored.v d270
store 7 sh -c 'vips rot scene.v turned.v d90 && vips flip turned.v stored.v vertical'
store 8 vips rot scene.v stored.v d90

# The scene as a phone's HEIC photo, and as AVIF.
vips copy scene.v "scene.heic[Q=80]"
vips copy scene.v "scene.avif[Q=80]"
# Turned HEICs: taken sideways, its turn in HEIF's transform properties
# (irot), with and without the EXIF tag a phone writes beside it; and one
# stored upside down whose turn is only in an EXIF tag, which HEIF's
# readers do not apply.
vips rot scene.v sideways.v d270
vips copy sideways.v sideways.ppm
"$heif_orientation" sideways.ppm heif-irot.heic 6
cp heif-irot.heic heif-irot-exif.heic
exiftool -q -overwrite_original "-IFD0:Orientation#=6" heif-irot-exif.heic
vips rot scene.v "upside-down.v" d180
vips copy upside-down.v "heif-exif-only.heic[Q=80]"
exiftool -q -overwrite_original "-IFD0:Orientation#=3" heif-exif-only.heic
rm -f sideways.ppm

# An untagged landscape photo, top-left corner marked.
vips copy "$photo" landscape.v
vips draw_rect landscape.v "0 255 0" 0 0 120 64 --fill
vips copy landscape.v "landscape.jpg[Q=92,strip]"

# A panorama, 8:1: the coffee photo repeated.
vips replicate "$photo" panorama.v 4 1
vips extract_area panorama.v "panorama.jpg[Q=90,strip]" 0 0 1920 240

# The same scene in sRGB and in Adobe RGB (1998), each with its profile.
vips icc_transform "$photo" "srgb.jpg[Q=95]" $icc/srgb.icc --input-profile $icc/srgb.icc
vips icc_transform "$photo" "adobe.jpg[Q=95]" $icc/a98.icc --input-profile $icc/srgb.icc

# Damaged, large and oversized files: half a JPEG; a PNG whose header's
# checksum is wrong; a PNG header of 30000 x 30000 pixels (its pixels never
# come); a JPEG padded to 70 MB.
head -c "$(( $(stat -c %s srgb.jpg) / 2 ))" srgb.jpg > truncated.jpg
vips copy "$photo" corrupt.png
printf '\000\001' | dd of=corrupt.png bs=1 seek=16 conv=notrunc 2>/dev/null
printf '\211PNG\r\n\032\n\000\000\000\rIHDR\000\000u0\000\000u0\010\002\000\000\000\351\105\157\355' > oversized.png
printf '\000\000\000\000IDAT\065\257\006\036\000\000\000\000IEND\256\102\140\202' >> oversized.png
# 81 megapixels of PNG, within the limits: most of a second of decoding.
vips black "large.png[compression=1]" 9000 9000 --bands 3
cp srgb.jpg padded.jpg
truncate -s 70M padded.jpg
printf 'not a photo\n' > text.jpg
rm -f ./*.v

# Hostile files: bombs and photos of another format than declared.
python3 "$here/make_hostile_photos.py" .
