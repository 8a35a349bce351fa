#!/usr/bin/env python3
"""Turns signatures.txt (UTF-8) into a C table of GBK byte strings for the signature library.

Lines that are empty or start with "#" are skipped. A line may use \\xNN for a byte and \\\\ for a
backslash, so that leading or trailing blanks and control bytes can be written.

A plain line is a plain signature, taken byte for byte (blanks inside included); a plain
signature that begins with "@" is written "\\x40...".

A line "@<flags> <part>[ && <part>...]" is an extended signature, stored as
    0x01 <flags> 0x02 <part> [0x02 <part> ...]
flags: ASCII letters ("N": the parts are matched against the normalised view of the file;
"W<1..65535>": the parts occur in their order, each beginning at most that many bytes after the
end of the one before; "S<1..1000000>": only in a file of at most that many bytes); 1 to 8
non-empty parts, separated by " && ". A malformed extended line stops the build.
See README.md.
"""
import re
import sys

KNOWN_FLAGS = "N"
MAX_PARTS = 8
MAX_WINDOW = 65535
MAX_GATE = 1000000


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


def extended_entry(line):
    """The entry bytes of an "@..." line, or a reason why it is malformed."""
    head, blank, rest = line.partition(" ")
    flags = head[1:]
    if not blank:
        return None, "an extended signature needs a blank after its flags"
    for letter, limit in (("W", MAX_WINDOW), ("S", MAX_GATE)):
        numbers = re.findall(letter + r"(\d*)", flags)
        if len(numbers) > 1:
            return None, f"{letter} given twice"
        if numbers and not (numbers[0].isdigit() and 1 <= int(numbers[0]) <= limit):
            return None, f"the number of {letter} is 1 to {limit}"
    letters = re.sub(r"[WS]\d*", "", flags)
    if not all(c.isascii() and c.isalpha() for c in letters):
        return None, "flags are ASCII letters (W with its window)"
    unknown = [c for c in letters if c not in KNOWN_FLAGS]
    if unknown:
        return None, "unknown flag " + "".join(unknown)
    texts = rest.split(" && ")
    if any(t != t.strip(" ") for t in texts):
        return None, "a part begins or ends with a blank (write \\x20 for one that should)"
    parts = [decode_escapes(t) for t in texts]
    if any(not p for p in parts):
        return None, "an empty part"
    if len(parts) > MAX_PARTS:
        return None, f"more than {MAX_PARTS} parts"
    for p in parts:
        if 0 in p or 1 in p or 2 in p:
            return None, "a part cannot hold the bytes 0x00, 0x01 or 0x02"
    return b"\x01" + flags.encode("ascii") + b"".join(b"\x02" + p for p in parts), None


def main():
    source, target = sys.argv[1], sys.argv[2]
    entries = []
    with open(source, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            if line.startswith("@"):
                value, problem = extended_entry(line)
                if problem:
                    sys.exit(f"{source}:{number}: malformed extended signature ({problem}): {line!r}")
            else:
                value = decode_escapes(line)
                if 0 in value:
                    sys.exit(f"{source}:{number}: a signature cannot hold a zero byte: {line!r}")
                if value[:1] == b"\x01":
                    sys.exit(f"{source}:{number}: a plain signature cannot begin with 0x01: {line!r}")
            entries.append(value)
    with open(target, "w", encoding="ascii") as out:
        out.write("// Generated from signatures.txt; do not edit.\n")
        for value in entries:
            out.write('"' + "".join(f"\\x{b:02x}" for b in value) + '",\n')


if __name__ == "__main__":
    main()
