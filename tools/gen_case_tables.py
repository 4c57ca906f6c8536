#!/usr/bin/env python3
"""Writes runtime/unicode_case_tables.inc from a pinned UnicodeData.txt.

The runtime's case mapping uses the simple upper- and lower-case mappings of
the Unicode Character Database (UnicodeData.txt fields 12 and 13). This
script turns them into sorted (code point, mapped code point) pair arrays:
one pair of arrays for the Basic Multilingual Plane (16-bit values) and one
for the planes above it (32-bit values). The output is committed; the build
never runs this script.

The input is pinned by its SHA-256: a different file is refused, so that the
tables change only when someone moves the pin on purpose (edit PINNED below
after checking the new version's mappings).

Debian's `unicode-data` package installs the file:
    apt-get install unicode-data
    tools/gen_case_tables.py            # reads /usr/share/unicode/UnicodeData.txt
"""

import argparse
import hashlib
import pathlib
import sys

PINNED = {
    "version": "15.0.0",
    "sha256": "806e9aed65037197f1ec85e12be6e8cd870fc5608b4de0fffd990f689f376a73",
}

DEFAULT_INPUT = "/usr/share/unicode/UnicodeData.txt"
DEFAULT_OUTPUT = pathlib.Path(__file__).resolve().parent.parent / "runtime" / "unicode_case_tables.inc"
PAIRS_PER_LINE = 6


def read_mappings(text):
    """The simple (upper, lower) mappings as two lists of (source, target)."""
    upper, lower = [], []
    for line in text.splitlines():
        if not line.strip():
            continue
        fields = line.split(";")
        if len(fields) != 15:
            raise SystemExit(f"unexpected line in UnicodeData.txt: {line!r}")
        code = int(fields[0], 16)
        if fields[12]:
            upper.append((code, int(fields[12], 16)))
        if fields[13]:
            lower.append((code, int(fields[13], 16)))
    return upper, lower


def split_planes(pairs, name):
    """Splits pairs into BMP and supplementary lists, checking the layout the
    runtime relies on: sorted, unique, no pair crossing the BMP boundary."""
    sources = [source for source, _ in pairs]
    if sources != sorted(set(sources)):
        raise SystemExit(f"{name}: sources are not sorted and unique")
    bmp, supplementary = [], []
    for source, target in pairs:
        if source == target:
            raise SystemExit(f"{name}: U+{source:04X} maps to itself")
        if (source <= 0xFFFF) != (target <= 0xFFFF):
            raise SystemExit(f"{name}: U+{source:04X} -> U+{target:04X} crosses the BMP boundary")
        (bmp if source <= 0xFFFF else supplementary).append((source, target))
    return bmp, supplementary


def format_array(c_type, name, pairs, digits):
    lines = [f"inline constexpr {c_type} {name}[][2] = {{"]
    for start in range(0, len(pairs), PAIRS_PER_LINE):
        chunk = pairs[start:start + PAIRS_PER_LINE]
        lines.append("    " + " ".join(f"{{0x{s:0{digits}X}, 0x{t:0{digits}X}}}," for s, t in chunk))
    lines.append("};")
    return "\n".join(lines)


def render(upper, lower, sha256):
    upper_bmp, upper_supp = split_planes(upper, "upper")
    lower_bmp, lower_supp = split_planes(lower, "lower")
    header = f"""\
// GENERATED FILE: do not edit. Made by tools/gen_case_tables.py from
// UnicodeData.txt of Unicode {PINNED['version']} (SHA-256 {sha256}).
//
// Simple case mappings, as (code point, mapped code point) pairs sorted by
// code point. Characters absent from a list map to themselves.
//   upper: {len(upper_bmp):,} pairs in the BMP, {len(upper_supp):,} above it
//   lower: {len(lower_bmp):,} pairs in the BMP, {len(lower_supp):,} above it
// No pair crosses the BMP boundary: a BMP character maps within the BMP.
//
// Included by runtime/unicode.cpp inside its namespace."""
    parts = [
        header,
        format_array("uint16_t", "upper_bmp_pairs", upper_bmp, 4),
        format_array("uint16_t", "lower_bmp_pairs", lower_bmp, 4),
        format_array("uint32_t", "upper_supplementary_pairs", upper_supp, 5),
        format_array("uint32_t", "lower_supplementary_pairs", lower_supp, 5),
    ]
    return "\n\n".join(parts) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--input", default=DEFAULT_INPUT, help="UnicodeData.txt (default: %(default)s)")
    parser.add_argument("--output", default=str(DEFAULT_OUTPUT), help="file to write (default: %(default)s)")
    args = parser.parse_args()

    data = pathlib.Path(args.input).read_bytes()
    sha256 = hashlib.sha256(data).hexdigest()
    if sha256 != PINNED["sha256"]:
        sys.exit(
            f"{args.input} is not the pinned UnicodeData.txt of Unicode {PINNED['version']}\n"
            f"  expected SHA-256 {PINNED['sha256']}\n  found    SHA-256 {sha256}\n"
            "Move the pin in PINNED only on purpose, with the new version number.")
    upper, lower = read_mappings(data.decode("utf-8"))
    pathlib.Path(args.output).write_text(render(upper, lower, sha256), encoding="utf-8")


if __name__ == "__main__":
    main()
