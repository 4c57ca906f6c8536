#!/usr/bin/env python3
"""load-json and to-json against Python's json module.

    json_oracle.py KIV

Python writes seeded random documents (nested objects and arrays, strings
with escapes, controls and characters above U+FFFF, integers inside and
outside 32 bits, floats, true, false, null) compactly and indented, with and
without ASCII escapes. Kiv loads each one and writes it back with to-json
(compact, /ascii and /pretty). Checks:
  - every output reads back in Python to the very document written (numbers
    compare by value: integers past 32 bits come back as floats);
  - for documents without floats, the compact /ascii output is the bytes of
    json.dumps(separators=(",", ":")) with upper-case hex digits (and DEL
    not escaped), and the compact UTF-8 output those of the same with
    ensure_ascii=False.
Prints "N passed, N failed"; exits 1 on a failure.
"""
import json
import math
import pathlib
import random
import re
import subprocess
import sys
import tempfile

from tally import Tally

ALPHABET = ["a", "b", "Z", " ", "\"", "\\", "/", "\n", "\t", "\r", "\b", "\f", "\x01", "\x1f", "\x7f",
            "é", "ü", "€", "中", "😀", "\U0010FFFF", "'", ":", "{", "]"]


def text(rng, n):
    return "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, n)))


def key(rng):
    return rng.choice(["a", "b_c", "key", "it's", "1st", "-1", "x y", "é", "", "A", "mixedCase"]) + text(rng, 2)


def scalar(rng, floats):
    kind = rng.randrange(6 if floats else 5)
    if kind == 0:
        return rng.choice([True, False, None])
    if kind == 1:
        return rng.randint(-2**31, 2**31 - 1)
    if kind == 2:
        return rng.choice([0, -1, 2**31, -2**31 - 1, 2**40, -(2**52)])
    if kind in (3, 4):
        return text(rng, 12)
    return rng.choice([0.5, -0.0, 1e-300, 1.7976931348623157e308, 5e-324,
                       rng.uniform(-1e6, 1e6), rng.random() * 10 ** rng.randint(-30, 30)])


def document(rng, depth, floats):
    if depth == 0 or rng.random() < 0.3:
        return scalar(rng, floats)
    if rng.random() < 0.5:
        return [document(rng, depth - 1, floats) for _ in range(rng.randint(0, 5))]
    obj = {}
    for _ in range(rng.randint(0, 5)):
        obj[key(rng)] = document(rng, depth - 1, floats)
    return obj


def same(a, b):
    if isinstance(a, bool) or isinstance(b, bool) or a is None or b is None:
        return a is b if (isinstance(a, bool) or a is None) else False
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        if isinstance(a, float) and math.isnan(a):
            return isinstance(b, float) and math.isnan(b)
        return a == b and (a != 0 or math.copysign(1, float(a)) == math.copysign(1, float(b)) or isinstance(a, int))
    if isinstance(a, str) or isinstance(b, str):
        return a == b
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return False


def upper_hex(s):
    """Python's text in to-json's spelling: upper-case hex digits, and DEL
    (which /ascii copies) as it is."""
    s = re.sub(r"\\u([0-9a-f]{4})", lambda m: "\\u" + m.group(1).upper(), s)
    return s.replace("\\u007F", "\x7f")


KIV_SCRIPT = """Kiv []
dir: to-kiv-file %s
foreach name read dir [
    if find/match form name "in-" [
        value: load-json to string! read/binary dir/:name
        out: find/tail form name "in-"
        write rejoin [dir "compact-" out] to binary! to-json :value
        write rejoin [dir "ascii-" out] to binary! to-json/ascii :value
        write rejoin [dir "pretty-" out] to binary! to-json/pretty/ascii :value "  "
    ]
]
print "done"
"""


def main():
    kiv = sys.argv[1]
    rng = random.Random(20261211)
    tally = Tally()
    check = tally.check

    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        docs = {}
        for i in range(120):
            floats = i % 2 == 0
            doc = document(rng, 5, floats)
            name = f"{i:03d}.json"
            docs[name] = (doc, floats)
            layout = [dict(), dict(indent=2), dict(ensure_ascii=False), dict(indent="\t", ensure_ascii=False)][i % 4]
            (folder / f"in-{name}").write_bytes(json.dumps(doc, **layout).encode("utf-8", "surrogatepass"))
        script = folder / "run.kiv"
        script.write_text(KIV_SCRIPT % json.dumps(str(folder) + "/"))
        done = subprocess.run([kiv, "--cli", str(script)], capture_output=True, text=True, timeout=300)
        check(done.returncode == 0 and "done" in done.stdout, f"kiv ran: {done.stdout[-500:]} {done.stderr[-500:]}")
        for name, (doc, floats) in docs.items():
            for form in ("compact", "ascii", "pretty"):
                path = folder / f"{form}-{name}"
                if not path.exists():
                    check(False, f"{form} {name}: no output")
                    continue
                out = path.read_bytes().decode("utf-8", "surrogatepass")
                try:
                    back = json.loads(out)
                except ValueError as e:
                    check(False, f"{form} {name}: Python refuses the output: {e}")
                    continue
                check(same(doc, back), f"{form} {name}: another value")
                if form == "ascii":
                    check(out.isascii(), f"{name}: /ascii wrote a character past 127")
                if not floats and not has_big_int(doc):
                    if form == "ascii":
                        check(out == upper_hex(json.dumps(doc, separators=(",", ":"))), f"ascii {name}: other bytes")
                    if form == "compact":
                        expected = upper_hex(json.dumps(doc, separators=(",", ":"), ensure_ascii=False))
                        check(out == expected, f"compact {name}: other bytes")
    return tally.close()


def has_big_int(doc):
    if isinstance(doc, bool):
        return False
    if isinstance(doc, int):
        return not -2**31 <= doc < 2**31
    if isinstance(doc, list):
        return any(has_big_int(x) for x in doc)
    if isinstance(doc, dict):
        return any(has_big_int(x) for x in doc.values())
    return False


if __name__ == "__main__":
    sys.exit(main())
