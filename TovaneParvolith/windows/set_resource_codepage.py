#!/usr/bin/env python3
"""Sets the code page of every resource in a linked PE module.

    set_resource_codepage.py --codepage 1252 TovaneParvolith.aex

The host expects the property list with code page 1252 in its resource data
entry. Resource compilers differ in what they write there (MinGW's windres
always writes 0), so the linked module is given the code page afterwards.
Only the data entries' code page fields change, and the image checksum when
the linker set one.
"""

import argparse
import struct
import sys

IMAGE_DIRECTORY_ENTRY_RESOURCE = 2
OPTIONAL_HEADER_MAGIC = {0x10B: 96, 0x20B: 112}  # PE32, PE32+: offset of the data directories
CHECKSUM_OFFSET = 64  # in the optional header, for both formats


class ImageError(Exception):
    pass


def unpack(fmt, image, offset):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(image):
        raise ImageError(f"read of {size} bytes at {offset} past the end of the file")
    return struct.unpack_from(fmt, image, offset)


def image_layout(image):
    """(offset of the optional header, [(rva, virtual size, raw offset, raw size)], resource rva)."""
    if image[:2] != b"MZ":
        raise ImageError("no MZ header")
    (pe_offset,) = unpack("<I", image, 0x3C)
    if image[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise ImageError("no PE signature")
    _machine, section_count, _time, _symbols, _nsymbols, optional_size, _chars = unpack("<HHIIIHH", image, pe_offset + 4)
    optional = pe_offset + 24
    (magic,) = unpack("<H", image, optional)
    if magic not in OPTIONAL_HEADER_MAGIC:
        raise ImageError(f"unknown optional header magic {magic:#x}")
    directories = optional + OPTIONAL_HEADER_MAGIC[magic]
    (directory_count,) = unpack("<I", image, directories - 4)
    if directory_count <= IMAGE_DIRECTORY_ENTRY_RESOURCE:
        raise ImageError("no resource directory entry")
    resource_rva, _size = unpack("<II", image, directories + 8 * IMAGE_DIRECTORY_ENTRY_RESOURCE)
    sections = []
    for index in range(section_count):
        header = optional + optional_size + 40 * index
        virtual_size, rva, raw_size, raw_offset = unpack("<IIII", image, header + 8)
        sections.append((rva, max(virtual_size, raw_size), raw_offset, raw_size))
    return optional, sections, resource_rva


def file_offset(sections, rva):
    for start, size, raw_offset, raw_size in sections:
        if start <= rva < start + size and rva - start < raw_size:
            return raw_offset + rva - start
    raise ImageError(f"RVA {rva:#x} lies in no section's file data")


def data_entries(image, root):
    """File offsets of the resource tree's data entries below the directory at root."""
    found = []
    pending = [(0, 0)]
    while pending:
        offset, depth = pending.pop()
        if depth > 3:
            raise ImageError("resource tree deeper than type, name and language")
        _chars, _time, _major, _minor, named, numbered = unpack("<IIHHHH", image, root + offset)
        for index in range(named + numbered):
            _name, target = unpack("<II", image, root + offset + 16 + 8 * index)
            if target & 0x80000000:
                pending.append((target & 0x7FFFFFFF, depth + 1))
            else:
                found.append(root + target)
    return found


def pe_checksum(image, checksum_field):
    """The image checksum: 16-bit one's-complement-style sum of the file, the
    checksum field read as zero, plus the file length."""
    copy = bytearray(image)
    copy[checksum_field:checksum_field + 4] = bytes(4)
    copy += bytes(len(copy) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", copy):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def set_codepage(image, codepage):
    """Returns the number of resources changed; image is a bytearray."""
    optional, sections, resource_rva = image_layout(image)
    if resource_rva == 0:
        raise ImageError("the module has no resources")
    entries = data_entries(image, file_offset(sections, resource_rva))
    for entry in entries:
        unpack("<IIII", image, entry)
        struct.pack_into("<I", image, entry + 8, codepage)
    checksum_field = optional + CHECKSUM_OFFSET
    if unpack("<I", image, checksum_field)[0] != 0:
        struct.pack_into("<I", image, checksum_field, pe_checksum(image, checksum_field))
    return len(entries)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--codepage", type=int, required=True)
    parser.add_argument("module")
    args = parser.parse_args(argv)
    try:
        with open(args.module, "rb") as f:
            image = bytearray(f.read())
        set_codepage(image, args.codepage)
    except (OSError, ImageError) as error:
        print(f"set_resource_codepage.py: {args.module}: {error}", file=sys.stderr)
        return 1
    with open(args.module, "r+b") as f:
        f.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
