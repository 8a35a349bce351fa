#!/usr/bin/env python3
"""Turns signatures.txt (UTF-8, one signature per line) into a C table of GBK byte strings.

Lines that are empty or start with "#" are skipped; everything else is taken byte for byte
(after conversion to GBK), including blanks inside the line. A line may use \\xNN for a byte
and \\\\ for a backslash, so that leading or trailing blanks and control bytes can be written.
"""
import sys


def decode_escapes(line):
    out = bytearray()
    i = 0
    while i < len(line):
        if line.startswith("\\\\", i):
            out.append(0x5C)
            i += 2
        elif line.startswith("\\x", i) and i + 4 <= len(line):
            out.append(int(line[i + 2:i + 4], 16))
            i += 4
        else:
            out += line[i].encode("gbk")
            i += 1
    return bytes(out)


def main():
    source, target = sys.argv[1], sys.argv[2]
    signatures = []
    with open(source, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            value = decode_escapes(line)
            if 0 in value:
                sys.exit(f"{source}: a signature cannot hold a zero byte: {line!r}")
            signatures.append(value)
    with open(target, "w", encoding="ascii") as out:
        out.write("// Generated from signatures.txt; do not edit.\n")
        for value in signatures:
            out.write('"' + "".join(f"\\x{b:02x}" for b in value) + '",\n')


if __name__ == "__main__":
    main()
