#!/usr/bin/env python3
"""Writes TovaneParvolith's plug-in property list for one platform.

    pipl_gen.py --platform windows --out TovaneParvolith.pipl
    pipl_gen.py --platform mac --out TovaneParvolith_mac.pipl

The properties come from TovaneParvolith_PiPL.txt (or --source). The Windows
list is the little-endian resource data of "PIPL" 16000 in the .aex; the
macOS list is big-endian, as the host reads a bundle's 'PiPL' resource. In
both, a four-character code is a 32-bit integer whose most significant byte
is the first character, so the Windows bytes of "kind" read "dnik".
"""

import argparse
import os
import struct
import sys

PLATFORMS = {"windows": "<", "mac": ">"}
VENDOR = "8BIM"
HEADER_WORD = 1
LIST_VERSION = 0

DEFAULT_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "TovaneParvolith_PiPL.txt")


class SourceError(Exception):
    pass


def four_char_code(text, order):
    raw = text.encode("ascii") if text.isascii() else b""
    if len(raw) != 4:
        raise SourceError(f"{text!r} is not a four-character ASCII code")
    return struct.pack(order + "I", int.from_bytes(raw, "big"))


def ascii_text(text, limit):
    if not text.isascii():
        raise SourceError(f"{text!r} is not ASCII text")
    if len(text) > limit:
        raise SourceError(f"{text!r} is longer than {limit} characters")
    return text.encode("ascii")


def pad4(data):
    return data + bytes(-len(data) % 4)


def integer(text, bits):
    try:
        value = int(text, 0)
    except ValueError:
        raise SourceError(f"{text!r} is not an integer") from None
    if not 0 <= value < (1 << bits):
        raise SourceError(f"{text!r} does not fit {bits} bits")
    return value


def encode_value(kind, words, order):
    """(data, counted length) of one property's value. Only a 16-bit value
    carries bytes its length leaves out."""
    value = " ".join(words)
    if kind == "code":
        return four_char_code(value, order), 4
    if kind == "pstring":
        raw = ascii_text(value, 255)
        data = pad4(bytes([len(raw)]) + raw)
        return data, len(data)
    if kind == "cstring":
        data = pad4(ascii_text(value, 1 << 16) + b"\0")
        return data, len(data)
    if kind == "u32":
        return struct.pack(order + "I", integer(value, 32)), 4
    if kind == "u16":
        return struct.pack(order + "H", integer(value, 16)) + bytes(2), 2
    if kind == "pair16":
        if len(words) != 2:
            raise SourceError(f"pair16 takes two values, not {value!r}")
        return struct.pack(order + "HH", integer(words[0], 16), integer(words[1], 16)), 4
    raise SourceError(f"unknown type {kind!r}")


def read_source(path, platform):
    """[(key, type, value words)] of the lines that belong to platform."""
    properties = []
    with open(path, encoding="utf-8") as source:
        for number, line in enumerate(source, 1):
            words = line.split("#", 1)[0].split()
            if not words:
                continue
            where = f"{path}:{number}"
            if len(words) < 3:
                raise SourceError(f"{where}: expected KEY TYPE VALUE")
            key = words[0]
            if ":" in key:
                only_on, key = key.split(":", 1)
                if only_on not in PLATFORMS:
                    raise SourceError(f"{where}: unknown platform {only_on!r}")
                if only_on != platform:
                    continue
            if key in (k for k, _, _ in properties):
                raise SourceError(f"{where}: {key!r} appears twice in the {platform} list")
            properties.append((key, words[1], words[2:]))
    return properties


def property_list(properties, platform):
    order = PLATFORMS[platform]
    out = bytearray(struct.pack(order + "Hii", HEADER_WORD, LIST_VERSION, len(properties)))
    for key, kind, words in properties:
        try:
            data, length = encode_value(kind, words, order)
        except SourceError as error:
            raise SourceError(f"property {key!r}: {error}") from None
        out += four_char_code(VENDOR, order) + four_char_code(key, order) + struct.pack(order + "ii", 0, length)
        out += data
    return bytes(out)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--platform", required=True, choices=sorted(PLATFORMS))
    parser.add_argument("--source", default=DEFAULT_SOURCE, help="property list source (default: %(default)s)")
    parser.add_argument("--out", required=True, help="file to write the list to")
    args = parser.parse_args(argv)
    try:
        data = property_list(read_source(args.source, args.platform), args.platform)
    except (OSError, SourceError) as error:
        print(f"pipl_gen.py: {error}", file=sys.stderr)
        return 1
    with open(args.out, "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
