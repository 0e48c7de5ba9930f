#!/usr/bin/env python3
"""Clears the names of parameters called "unnamed_<n>" in a compiled type
library (MSFT format), so that they read back as unnamed.

The IDL compiler cannot declare a parameter without a name, so such parameters
carry a placeholder name in the IDL and this step removes it from the binary.
Usage: unname_params.py <in.tlb> <out.tlb>
"""
import struct
import sys

HEADER_SIZE = 0x54
HELPDLL_FLAG = 0x100
SEGMENTS = 15
PARAM_INFO_SIZE = 12


def i32(buf, off):
    return struct.unpack_from("<i", buf, off)[0]


def main(src, dst):
    data = bytearray(open(src, "rb").read())
    if data[0:4] != b"MSFT":
        sys.exit("%s: not an MSFT type library" % src)
    varflags = i32(data, 0x14)
    count = i32(data, 0x20)
    pos = HEADER_SIZE + (4 if varflags & HELPDLL_FLAG else 0)
    offsets = [i32(data, pos + 4 * k) for k in range(count)]
    segdir = pos + 4 * count
    seg = [(i32(data, segdir + 16 * k), i32(data, segdir + 16 * k + 4)) for k in range(SEGMENTS)]
    typeinfo_tab, name_tab = seg[0][0], seg[7][0]

    def name_at(offset):
        length = data[name_tab + offset + 8] & 0xFF
        start = name_tab + offset + 12
        return bytes(data[start:start + length]).decode("latin-1")

    cleared = 0
    for ti in offsets:
        base = typeinfo_tab + ti
        memoffset = i32(data, base + 4)
        funcs = i32(data, base + 24) & 0xFFFF
        if funcs == 0 or memoffset < 0 or memoffset >= len(data):
            continue
        rec = memoffset + 4
        for _ in range(funcs):
            size = i32(data, rec) & 0xFFFF
            nargs = struct.unpack_from("<h", data, rec + 20)[0]
            params = rec + size - nargs * PARAM_INFO_SIZE
            for p in range(nargs):
                name_field = params + p * PARAM_INFO_SIZE + 4
                name_off = i32(data, name_field)
                if name_off >= 0 and name_at(name_off).startswith("unnamed_"):
                    struct.pack_into("<i", data, name_field, -1)
                    cleared += 1
            rec += size
    if cleared == 0:
        sys.exit("%s: no placeholder parameter names found" % src)
    open(dst, "wb").write(data)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
