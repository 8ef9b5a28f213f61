#!/usr/bin/env python3
"""Bytes of the linked program by input file, from a GNU ld map (-Wl,-Map).

    map_sizes.py MAP [COUNT]

Lists the COUNT largest contributors (archive members, objects), debug
sections left out, and the total by library.
"""
import collections
import re
import sys


def contributions(path):
    lines = open(path, encoding="utf-8", errors="replace").read().split("\n")
    start = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    pending = None
    for line in lines[start:]:
        # " .text  0xADDR  0xSIZE  FILE", or the section name alone with the rest on the next line.
        match = re.match(r"^ (\.\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if match:
            section, size, source = match.group(1), int(match.group(2), 16), match.group(3)
        else:
            alone = re.match(r"^ (\.\S+)$", line)
            if alone:
                pending = alone.group(1)
                continue
            rest = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if not (rest and pending):
                pending = None
                continue
            section, size, source = pending, int(rest.group(1), 16), rest.group(2)
            pending = None
        if size and not section.startswith(".debug"):
            yield section, size, source


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    count = int(sys.argv[2]) if len(sys.argv) == 3 else 15
    by_member = collections.Counter()
    by_library = collections.Counter()
    for _, size, source in contributions(sys.argv[1]):
        archive = re.match(r".*/(lib[^/]+\.a)\((.*)\)$", source)
        if archive:
            by_member[f"{archive.group(1)}({archive.group(2)})"] += size
            by_library[archive.group(1)] += size
        else:
            name = source.rsplit("/", 1)[-1]
            by_member[name] += size
            by_library["(objects)" if name.endswith((".obj", ".o", ".res")) or "objects.a" in name else name] += size
    print(f"  {sum(by_member.values()):8d} bytes of code and data in all, by library:")
    for name, size in by_library.most_common(8):
        print(f"  {size:8d}  {name}")
    print(f"  largest {count} input files:")
    for name, size in by_member.most_common(count):
        print(f"  {size:8d}  {name}")


if __name__ == "__main__":
    main()
