#!/usr/bin/env python3
"""Wraps the bundle's property list into Contents/Resources/TovaneParvolith.rsrc.

The host reads a macOS effect bundle's property list through the Resource
Manager, so the list travels as resource 'PiPL' 16000 in a classic resource
file: a 16-byte header, the resource data, then the resource map, every field
big-endian.
"""

import argparse
import struct
import sys

# The data area conventionally starts after 256 bytes: the 16-byte header,
# 112 bytes the system may use and 128 bytes for the application.
DATA_OFFSET = 256
MAP_HEAD_SIZE = 28  # header copy, next-map handle, file ref, attributes, two offsets


def resource_file(resources):
    """Returns the bytes of a resource file holding `resources`, a list of
    (four-character type, id, data bytes) in the order they are stored. No
    resource carries a name, so the name list is empty."""
    data = bytearray()
    by_type = {}
    for res_type, res_id, payload in resources:
        code = res_type.encode("mac_roman")
        if len(code) != 4:
            raise ValueError(f"resource type {res_type!r} is not four characters")
        if not -32768 <= res_id <= 32767:
            raise ValueError(f"resource id {res_id} does not fit 16 bits")
        if len(data) + 4 + len(payload) > 0xFFFFFF:
            raise ValueError("resource data past the 24-bit offsets of the reference list")
        by_type.setdefault(code, []).append((res_id, len(data)))
        data += struct.pack(">I", len(payload)) + payload

    # Type list: count minus one, then one 8-byte entry per type; each type's
    # reference list follows, its offset counted from the start of the type list.
    type_list = bytearray(struct.pack(">h", len(by_type) - 1))
    ref_lists = bytearray()
    ref_start = 2 + 8 * len(by_type)
    for code, refs in by_type.items():
        type_list += code + struct.pack(">hH", len(refs) - 1, ref_start + len(ref_lists))
        for res_id, data_offset in refs:
            # id, name offset (-1: no name), attributes, 24-bit data offset, handle
            ref_lists += struct.pack(">hhB", res_id, -1, 0) + data_offset.to_bytes(3, "big") + bytes(4)

    map_offset = DATA_OFFSET + len(data)
    map_length = MAP_HEAD_SIZE + len(type_list) + len(ref_lists)
    header = struct.pack(">IIII", DATA_OFFSET, map_offset, len(data), map_length)
    resource_map = header + struct.pack(">IhHHH", 0, 0, 0, MAP_HEAD_SIZE, map_length) + type_list + ref_lists
    assert len(resource_map) == map_length
    return header + bytes(DATA_OFFSET - len(header)) + bytes(data) + resource_map


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pipl", required=True, help="the bundle's property list, as the host reads it")
    parser.add_argument("--id", type=int, default=16000, help="resource id (default 16000)")
    parser.add_argument("--out", required=True, help="resource file to write")
    args = parser.parse_args(argv)

    with open(args.pipl, "rb") as f:
        pipl = f.read()
    with open(args.out, "wb") as f:
        f.write(resource_file([("PiPL", args.id, pipl)]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
