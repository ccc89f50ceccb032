"""Where an executable's bytes come from, read from the linker's map
(-Wl,-Map, GNU ld's): the size of every input section that lands in
the image, summed per object file or archive member."""

import collections
import os
import re

# Output sections without file contents, or not part of the image.
SKIPPED_OUTPUT = (".bss", ".stab", ".stabstr", ".debug", ".zdebug", ".endjunk")

_OUTPUT = re.compile(r"^(\.\S+)(?:\s+0x[0-9a-f]+\s+0x([0-9a-f]+))?\s*$")
_INPUT = re.compile(r"^ (\.\S+|COMMON)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*))?\s*$")
_WRAPPED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
_FILL = re.compile(r"^ \*fill\*\s+0x[0-9a-f]+\s+0x([0-9a-f]+)")
_MEMBER = re.compile(r"^(.*)\((.*)\)$")


def origin(path):
    """'libstdc++.a(cp-demangle.o)' or 'crt2u.o' for an input file."""
    if path == "dll stuff":  # GNU ld's name for the import stubs it makes
        return "(linker-generated)"
    match = _MEMBER.match(path)
    if match:
        return "%s(%s)" % (os.path.basename(match.group(1)), match.group(2))
    return os.path.basename(path)


def library(name):
    """The archive of an origin, or the object itself."""
    match = _MEMBER.match(name)
    return match.group(1) if match and match.group(1) else name


def contributions(map_path):
    """{origin: bytes} over every input section placed in the image, and
    {output section: size} as the map states them."""
    with open(map_path, encoding="utf-8", errors="replace") as file:
        lines = file.read().splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("Linker script and memory map"))
    sizes = collections.Counter()
    sections = {}
    current = None
    pending = None
    for line in lines[start + 1:]:
        output = _OUTPUT.match(line)
        if output:
            current = output.group(1)
            if output.group(2) is not None:
                sections[current] = int(output.group(2), 16)
            pending = None
            continue
        if current is None or current.startswith(SKIPPED_OUTPUT):
            continue
        if pending is not None:
            wrapped = _WRAPPED.match(line)
            pending = None
            if wrapped:
                sizes[origin(wrapped.group(3))] += int(wrapped.group(2), 16)
                continue
        fill = _FILL.match(line)
        if fill:
            sizes["(alignment)"] += int(fill.group(1), 16)
            continue
        placed = _INPUT.match(line)
        if placed:
            if placed.group(2) is None:
                pending = placed.group(1)
            else:
                sizes[origin(placed.group(4))] += int(placed.group(3), 16)
    return sizes, {name: size for name, size in sections.items()
                   if not name.startswith(SKIPPED_OUTPUT) and size}


def by_library(sizes):
    totals = collections.Counter()
    for name, size in sizes.items():
        totals[library(name)] += size
    return totals
