#!/usr/bin/env python3
"""Writes the data files of the codec benchmarks into bench/data/ (once:
files already there are kept). The same seed gives the same bytes.

    mixed.json  about 20 MB: an array of records, each an object of
                integers, floats, strings with escapes, true, false, null,
                and nested arrays and objects (ASCII text only, so that
                every implementation counts the encoded text alike)
    table.csv   about 20 MB: a header and rows of 8 fields, some quoted
                with delimiters, doubled quotes and line breaks inside
"""
import csv
import json
import pathlib
import random

DATA = pathlib.Path(__file__).resolve().parent / "data"
SIZE = 20 * 1024 * 1024
WORDS = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta", "iota", "kappa"]


def record(rng, i):
    return {
        "id": i,
        "name": f"user {rng.randrange(10**6)}",
        "email": f"{rng.choice(WORDS)}.{i}@example.com",
        "score": rng.randrange(-4000, 4000) / 4,
        "active": rng.random() < 0.5,
        "parent": None if rng.random() < 0.7 else rng.randrange(i + 1),
        "tags": [rng.choice(WORDS) for _ in range(rng.randrange(5))],
        "note": rng.choice(["", "plain", "with \"quotes\"", "two\nlines", "tab\there", "back\\slash"]),
        "position": {"x": rng.randrange(-1000, 1000), "y": rng.randrange(-1000, 1000) / 8,
                     "path": [rng.randrange(100) for _ in range(rng.randrange(6))]},
    }


def write_json(path, rng):
    records, size, i = [], 2, 0
    while size < SIZE:
        r = record(rng, i)
        size += len(json.dumps(r, separators=(",", ":"))) + 1
        records.append(r)
        i += 1
    path.write_text(json.dumps(records, separators=(",", ":")))


def write_csv(path, rng):
    with path.open("w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["id", "name", "city", "amount", "comment", "code", "flag", "empty"])
        i = 0
        while out.tell() < SIZE:
            writer.writerow([i, f"name {rng.randrange(10**6)}", rng.choice(WORDS).title(),
                             f"{rng.randrange(10**6) / 100:.2f}",
                             rng.choice(["", "fine", "a, b", "said \"hi\"", "line\nbreak", "x y z"]),
                             f"C{rng.randrange(10**4):04d}", rng.choice(["Y", "N"]), ""])
            i += 1


def main():
    DATA.mkdir(exist_ok=True)
    rng = random.Random(2026)
    for name, write in (("mixed.json", write_json), ("table.csv", write_csv)):
        path = DATA / name
        if not path.exists():
            write(path, rng)


if __name__ == "__main__":
    main()
