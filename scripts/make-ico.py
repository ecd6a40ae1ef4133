#!/usr/bin/env python3
"""Assembles a Windows icon file with exact bit depths for every entry.

ImageMagick picks an ICO entry's depth by itself, so scripts/draw-artwork.sh
renders the pictures and this script packs them. For every size it reads,
from one folder, raw 8-bit pixels written by ImageMagick:

    SIZE.rgba    the picture with its alpha channel
    SIZE-8.rgb   the same, reduced to at most 255 colours
    SIZE-4.rgb   the same, reduced to at most 15 colours

and writes three entries per size: 32 bits per pixel with alpha, and 8 and 4
bits per pixel with a palette. In the palette entries colour 0 is black and
serves every pixel less than half opaque, since Windows draws such icons by
masking with the AND bitmap and then XOR-ing the colours. Entries of 256
pixels are stored as PNG, smaller ones as DIBs.

--pick writes a smaller icon made of some entries of another, each given as
SIZE:DEPTH, copied byte for byte.

    make-ico.py OUTPUT.ico FOLDER SIZE...
    make-ico.py --pick OUTPUT.ico SOURCE.ico SIZE:DEPTH...
    make-ico.py --list FILE.ico
"""

import struct
import sys
import zlib
from pathlib import Path

DEPTHS = (32, 8, 4)
PNG_FROM_SIZE = 256
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def read_raw(path, size, channels):
    data = Path(path).read_bytes()
    if len(data) != size * size * channels:
        raise SystemExit(f"{path}: expected {size}x{size}x{channels} bytes, got {len(data)}")
    return [tuple(data[i:i + channels]) for i in range(0, len(data), channels)]


def opaque_flags(rgba):
    return [a >= 128 for (_, _, _, a) in rgba]


def palette_indices(colours, opaque, depth):
    """Index 0 is black, for the transparent pixels; the colours follow."""
    palette = [(0, 0, 0)] + sorted(set(c for c, o in zip(colours, opaque) if o) - {(0, 0, 0)})
    if len(palette) > 1 << depth:
        raise SystemExit(f"{len(palette)} colours do not fit {depth} bits per pixel")
    index = {c: i for i, c in enumerate(palette)}
    return palette, [index[c] if o else 0 for c, o in zip(colours, opaque)]


def pack_row(values, depth):
    """Packs one row of 1-, 4- or 8-bit values, most significant bits first."""
    if depth == 8:
        return bytes(values)
    per_byte = 8 // depth
    out = bytearray()
    for start in range(0, len(values), per_byte):
        byte = 0
        chunk = values[start:start + per_byte]
        for k, v in enumerate(chunk):
            byte |= v << (8 - depth * (k + 1))
        out.append(byte)
    return bytes(out)


def dib_rows(rows):
    """DIB rows run bottom-up, each padded to a multiple of four bytes."""
    return b"".join(r + b"\0" * (-len(r) % 4) for r in reversed(rows))


def dib_entry(size, depth, rgba, colours):
    opaque = opaque_flags(rgba)
    rows = range(0, size * size, size)
    mask = dib_rows([pack_row([0 if o else 1 for o in opaque[r:r + size]], 1) for r in rows])
    if depth == 32:
        bgra = [bytes((b, g, r, a)) if a else b"\0\0\0\0" for (r, g, b, a) in rgba]
        pixels = dib_rows([b"".join(bgra[r:r + size]) for r in rows])
        palette = b""
    else:
        colours_used, indices = palette_indices(colours, opaque, depth)
        colours_used += [(0, 0, 0)] * ((1 << depth) - len(colours_used))
        palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in colours_used)
        pixels = dib_rows([pack_row(indices[r:r + size], depth) for r in rows])
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, depth, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + palette + pixels + mask


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def png_entry(size, depth, rgba, colours):
    if depth == 32:
        header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
        extra = b""
        rows = [b"".join(bytes(p) for p in rgba[r:r + size]) for r in range(0, size * size, size)]
    else:
        opaque = opaque_flags(rgba)
        colours_used, indices = palette_indices(colours, opaque, depth)
        header = struct.pack(">IIBBBBB", size, size, depth, 3, 0, 0, 0)
        extra = (png_chunk(b"PLTE", b"".join(bytes(c) for c in colours_used))
                 + png_chunk(b"tRNS", b"\0"))
        rows = [pack_row(indices[r:r + size], depth) for r in range(0, size * size, size)]
    raw = b"".join(b"\0" + row for row in rows)
    return (PNG_SIGNATURE + png_chunk(b"IHDR", header) + extra
            + png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def build(output, folder, sizes):
    images = []
    for depth in DEPTHS:
        for size in sizes:
            rgba = read_raw(folder / f"{size}.rgba", size, 4)
            colours = rgba if depth == 32 else read_raw(folder / f"{size}-{depth}.rgb", size, 3)
            encode = png_entry if size >= PNG_FROM_SIZE else dib_entry
            images.append((size, depth, encode(size, depth, rgba, colours)))
    write(output, images)


def entries(path):
    """The entries of an icon file as (size, depth, data)."""
    data = Path(path).read_bytes()
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if reserved != 0 or kind != 1:
        raise SystemExit(f"{path}: not an icon file")
    for i in range(count):
        w, _, _, _, _, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        yield w or 256, bits, data[offset:offset + length]


def pick(output, source, choices):
    available = {(size, depth): data for size, depth, data in entries(source)}
    images = []
    for choice in choices:
        size, depth = (int(n) for n in choice.split(":"))
        if (size, depth) not in available:
            raise SystemExit(f"{source} has no {size}x{size} entry of {depth} bits per pixel")
        images.append((size, depth, available[(size, depth)]))
    write(output, images)


def write(output, images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, depth, data in images:
        side = size if size < 256 else 0
        colour_count = 16 if depth == 4 else 0
        directory += struct.pack("<BBBBHHII", side, side, colour_count, 0, 1, depth, len(data), offset)
        offset += len(data)
    Path(output).write_bytes(directory + b"".join(data for _, _, data in images))


def describe(path):
    """Prints each entry as the directory states it and as its data says."""
    data = Path(path).read_bytes()
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if reserved != 0 or kind != 1:
        raise SystemExit(f"{path}: not an icon file")
    print(f"{Path(path).name}: {count} images")
    for i in range(count):
        w, h, colours, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        image = data[offset:offset + length]
        if image.startswith(PNG_SIGNATURE):
            iw, ih, depth, colour_type = struct.unpack_from(">IIBB", image, 16)
            data_bits = depth * 4 if colour_type == 6 else depth
            form = "PNG"
        else:
            _, iw, ih, _, data_bits = struct.unpack_from("<IiiHH", image)
            ih //= 2
            form = "DIB"
        print(f"  #{i + 1:<2} {w or 256:>3}x{h or 256:<3} {bits:>2} bpp  colours={colours:<2} "
              f"planes={planes}  {form} {iw}x{ih} {data_bits} bpp  {length} bytes")


def main(argv):
    if len(argv) == 3 and argv[1] == "--list":
        describe(argv[2])
    elif len(argv) >= 5 and argv[1] == "--pick":
        pick(argv[2], argv[3], argv[4:])
    elif len(argv) >= 4:
        build(argv[1], Path(argv[2]), [int(s) for s in argv[3:]])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
