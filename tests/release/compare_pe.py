#!/usr/bin/env python3
"""Compares two Windows programs byte for byte; when they differ, names the parts of the PE file
that differ (header fields, sections, symbol table, signature) with the first differing bytes.

Usage: compare_pe.py FIRST.exe SECOND.exe   Exit status 0 when identical, 1 when not, 2 on error.
"""

import struct
import sys


def parse_regions(data):
    """The named byte ranges of a PE file, in file order: (name, start, end)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    coff = pe + 4
    sections, symbols_at, symbol_count, optional_size = struct.unpack_from("<HxxxxII H", data,
                                                                           coff + 2)
    optional = coff + 20
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    strings_at = symbols_at + 18 * symbol_count

    regions = [
        ("PE time stamp", coff + 4, coff + 8),
        ("PE checksum", optional + 64, optional + 68),
    ]
    table = optional + optional_size
    headers_end = struct.unpack_from("<I", data, optional + 60)[0]
    for i in range(sections):
        raw_name, _, _, size, start = struct.unpack_from("<8sIIII", data, table + 40 * i)
        name = raw_name.rstrip(b"\0").decode("latin-1")
        # Long names are "/offset" into the string table that follows the symbols.
        if name.startswith("/") and symbols_at:
            offset = strings_at + int(name[1:])
            name = data[offset:data.index(b"\0", offset)].decode("latin-1")
        if size:
            regions.append(("section " + name, start, start + size))
    if symbols_at:
        regions.append(("symbol table", symbols_at, strings_at))
        strings_size = struct.unpack_from("<I", data, strings_at)[0]
        regions.append(("symbols' string table", strings_at, strings_at + strings_size))
    certificates_at, certificates_size = struct.unpack_from("<II", data, directories + 4 * 8)
    if certificates_size:
        regions.append(("signature (certificate table)", certificates_at,
                        certificates_at + certificates_size))
    regions.append(("other headers", 0, headers_end))
    return regions


def region_of(offset, regions):
    # The field entries come first, so that they win over the headers around them.
    for name, start, end in regions:
        if start <= offset < end:
            return name
    return "bytes outside every section"


def printable(data, offset):
    window = data[max(0, offset - 24):offset + 24]
    return "".join(chr(b) if 32 <= b < 127 else "." for b in window)


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    first, second = (open(path, "rb").read() for path in argv[1:])
    if first == second:
        print(f"identical: {argv[1]} and {argv[2]} ({len(first)} bytes)")
        return 0

    print(f"differ: {argv[1]} ({len(first)} bytes) and {argv[2]} ({len(second)} bytes)")
    try:
        regions = parse_regions(first)
        sections = [region for region in regions if region[0].startswith("section ")]
        if [r for r in parse_regions(second) if r[0].startswith("section ")] != sections:
            print("  the two files' section tables differ: sections moved or changed size")
    except (ValueError, struct.error, IndexError) as error:
        print(f"  cannot read the PE layout of {argv[1]}: {error}")
        regions = []

    differing = {}
    for offset in range(min(len(first), len(second))):
        if first[offset] != second[offset]:
            name = region_of(offset, regions)
            count, at = differing.get(name, (0, offset))
            differing[name] = (count + 1, at)
    for name, (count, at) in differing.items():
        print(f"  {name}: {count} bytes differ, the first at file offset {at:#x}")
        print(f"    {printable(first, at)}")
        print(f"    {printable(second, at)}")
    if len(first) != len(second):
        print(f"  {abs(len(first) - len(second))} bytes more at the end of the longer file")
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
