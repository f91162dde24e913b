#!/usr/bin/env python3
"""Makes the hostile photo files of the decoding tests in folder argv[1],
from photos libvips makes (its command line, `vips`):

  grid-bomb.heic  a HEIC whose primary image is a grid stated as 512 x 512,
                  its 31 x 31 tiles (one 512 x 512 picture, referenced 961
                  times) making 15872 x 15872 pixels when decoded;
  wide.webp       a WebP of 16383 x 6103 pixels (just under 100
                  megapixels), which WebP decodes whole;
  scan-bomb.jpg   a progressive JPEG of 2048 x 2048 pixels with 40,000
                  scans of about 20 bytes each;
  mismatch.tif, mismatch.gif, mismatch.webp
                  photos whose bytes are TIFF, GIF and WebP, for jobs that
                  declare them as JPEG or PNG.
"""
import os
import struct
import subprocess
import sys


def vips(*args):
    subprocess.run(["vips", *args], check=True)


def boxes(data, start, end):
    """(type, body start, box end) of each ISO media box in data[start:end]."""
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        header = 8
        if size == 1:
            size = struct.unpack(">Q", data[at + 8:at + 16])[0]
            header = 16
        elif size == 0:
            size = end - at
        yield kind, at + header, at + size
        at += size


def box(kind, body):
    return struct.pack(">I4s", 8 + len(body), kind) + body


def full_box(kind, version, flags, body):
    return box(kind, struct.pack(">I", (version << 24) | flags) + body)


def primary_picture(heic):
    """The ftyp box, hdlr box, hvcC box and coded bytes of a one-picture HEIC."""
    top = {kind: (body, end) for kind, body, end in boxes(heic, 0, len(heic))}
    ftyp_body, ftyp_end = top[b"ftyp"]
    ftyp = heic[ftyp_body - 8:ftyp_end]
    meta_body, meta_end = top[b"meta"]
    inner = {kind: (body, end) for kind, body, end in boxes(heic, meta_body + 4, meta_end)}
    hdlr = heic[inner[b"hdlr"][0] - 8:inner[b"hdlr"][1]]
    pitm_body = inner[b"pitm"][0]
    primary = struct.unpack(">H", heic[pitm_body + 4:pitm_body + 6])[0]
    # iloc: the primary item's extents in the file.
    at = inner[b"iloc"][0]
    version = heic[at]
    sizes = heic[at + 4:at + 6]
    offset_size, length_size = sizes[0] >> 4, sizes[0] & 15
    base_size, index_size = sizes[1] >> 4, (sizes[1] & 15) if version >= 1 else 0
    at += 6
    count_size = 2 if version < 2 else 4

    def take(size):
        nonlocal at
        value = int.from_bytes(heic[at:at + size], "big") if size else 0
        at += size
        return value

    coded = b""
    for _ in range(take(count_size)):
        item = take(count_size)
        if version >= 1:
            take(2)
        take(2)
        base = take(base_size)
        for _ in range(take(2)):
            take(index_size)
            offset = take(offset_size)
            length = take(length_size)
            if item == primary:
                coded += heic[base + offset:base + offset + length]
    iprp = {kind: (body, end) for kind, body, end in boxes(heic, *inner[b"iprp"])}
    ipco = iprp[b"ipco"]
    hvcc = next(heic[body - 8:end] for kind, body, end in boxes(heic, *ipco) if kind == b"hvcC")
    return ftyp, hdlr, hvcc, coded


def grid_bomb(tile_heic, out):
    ftyp, hdlr, hvcc, coded = primary_picture(open(tile_heic, "rb").read())
    tiles, side = 31, 512
    grid = struct.pack(">BBBBII", 0, 1, tiles - 1, tiles - 1, tiles * side, tiles * side)

    def meta(mdat_offset):
        iloc = full_box(b"iloc", 1, 0, bytes([0x44, 0x00]) + struct.pack(">H", 2) +
                        struct.pack(">HHHHII", 1, 0, 0, 1, mdat_offset, len(coded)) +
                        struct.pack(">HHHHII", 2, 1, 0, 1, 0, len(grid)))
        infe = [full_box(b"infe", 2, 0, struct.pack(">HH4s", item, 0, kind) + b"\0")
                for item, kind in ((1, b"hvc1"), (2, b"grid"))]
        iinf = full_box(b"iinf", 0, 0, struct.pack(">H", 2) + b"".join(infe))
        dimg = box(b"dimg", struct.pack(">HH", 2, tiles * tiles) + struct.pack(">H", 1) * (tiles * tiles))
        iref = full_box(b"iref", 0, 0, dimg)
        ispe = full_box(b"ispe", 0, 0, struct.pack(">II", side, side))
        ipco = box(b"ipco", hvcc + ispe + ispe)
        ipma = full_box(b"ipma", 0, 0, struct.pack(">I", 2) + bytes([0, 1, 2, 0x81, 0x02, 0, 2, 1, 0x03]))
        iprp = box(b"iprp", ipco + ipma)
        return full_box(b"meta", 0, 0, hdlr + full_box(b"pitm", 0, 0, struct.pack(">H", 2)) + iloc + iinf +
                        iref + iprp + box(b"idat", grid))

    head = len(ftyp) + len(meta(0))
    with open(out, "wb") as f:
        f.write(ftyp + meta(head + 8) + box(b"mdat", coded))


def scan_bomb(progressive_jpeg, out, scans):
    """The progressive JPEG with scans added up to `scans`: each a first AC
    scan of the luminance coded as four end-of-band runs of 16384 blocks
    (a 2048 x 2048 photo has 65536), about 20 bytes that make the decoder
    walk every block once more."""
    data = open(progressive_jpeg, "rb").read()
    end = data.rindex(b"\xff\xd9")
    made = 0
    at = 2
    while at < end:
        marker = data[at + 1]
        length = struct.unpack(">H", data[at + 2:at + 4])[0]
        at += 2 + length
        if marker == 0xDA:
            made += 1
            while not (data[at] == 0xFF and data[at + 1] not in (0x00, *range(0xD0, 0xD8))):
                at += 1
    # AC table 0: one code, "0", for EOB14 (a run of 2^14 and 14 more bits).
    dht = b"\xff\xc4" + struct.pack(">HB", 2 + 1 + 16 + 1, 0x10) + bytes([1] + [0] * 15) + b"\xe0"
    sos = b"\xff\xda" + struct.pack(">HBBBBBB", 8, 1, 1, 0x00, 1, 63, 0x00)
    runs = b"\x00" * 7 + b"\x0f"   # four times "0" and 14 zero bits, then padding
    with open(out, "wb") as f:
        f.write(data[:end] + dht + (sos + runs) * (scans - made) + b"\xff\xd9")


def main():
    out = sys.argv[1]
    os.chdir(out)
    vips("black", "tile.v", "512", "512", "--bands", "3")
    vips("draw_circle", "tile.v", "200 120 40", "256", "256", "200", "--fill")
    vips("copy", "tile.v", "tile.heic[Q=50]")
    grid_bomb("tile.heic", "grid-bomb.heic")

    vips("black", "wide.v", "16383", "6103", "--bands", "3")
    vips("copy", "wide.v", "wide.webp[Q=50,effort=0]")

    vips("black", "square.v", "2048", "2048", "--bands", "3")
    vips("draw_circle", "square.v", "200 120 40", "1024", "1024", "800", "--fill")
    vips("copy", "square.v", "progressive.jpg[Q=80,interlace,strip]")
    scan_bomb("progressive.jpg", "scan-bomb.jpg", 40000)

    vips("copy", "tile.v", "mismatch.tif")
    vips("copy", "tile.v", "mismatch.gif")
    vips("copy", "tile.v", "mismatch.webp")
    for name in ("tile.v", "wide.v", "square.v", "tile.heic"):
        os.remove(name)


if __name__ == "__main__":
    main()
