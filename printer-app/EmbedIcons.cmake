# Writes PrinterIcons.cpp: the printer icons (PNG files in ICON_DIR) as byte
# arrays, as PrinterIcons.h declares them.
#   cmake -DICON_DIR=<folder> -DOUTPUT=<file> -P EmbedIcons.cmake
set(content "// Made by EmbedIcons.cmake from the printer artwork: do not edit.\n#include \"PrinterIcons.h\"\n")
foreach(pair "Small;icon-sm.png" "Medium;icon-md.png" "Large;icon-lg.png")
  list(GET pair 0 name)
  list(GET pair 1 file)
  file(READ "${ICON_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND content "const unsigned char kPrinterIcon${name}[] = {${bytes}};\n")
  string(APPEND content "const size_t kPrinterIcon${name}Size = ${size};\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${content}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
