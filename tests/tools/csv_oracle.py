#!/usr/bin/env python3
"""load-csv and to-csv against Python's csv module.

    csv_oracle.py KIV

Python writes seeded random tables (fields with quotes, delimiters, LF, CR
and CRLF inside, spaces, empty fields, trailing empty fields, characters
past ASCII) with CRLF and LF line ends, minimal and full quoting, and the
delimiters "," ";" and tab, with and without a last line end. Kiv reads
each with load-csv and writes the rows back as JSON; and it writes each
table with to-csv, which Python's reader then reads. Both must give the
table (Python's reader gives no field for an empty line, load-csv one
empty field: they are taken as the same). Prints "N passed, N failed"; exits 1 on a failure.
"""
import csv
import io
import json
import pathlib
import random
import subprocess
import sys
import tempfile

from tally import Tally

PIECES = ["a", "B", "7", " ", "", "\"", ",", ";", "\t", "\n", "\r", "\r\n", "é", "中", "😀", "'", "x y"]

KIV_SCRIPT = """Kiv []
dir: to-kiv-file %s
foreach name read dir [
    case [
        find/match form name "in-" [
            spec: load-json to string! read/binary dir/(rejoin ["spec-" find/tail form name "in-"])
            rows: load-csv/with to string! read/binary dir/:name spec/delimiter
            write rejoin [dir "rows-" find/tail form name "in-" ".json"] to binary! to-json/ascii :rows
        ]
        find/match form name "table-" [
            table: load-json to string! read/binary dir/:name
            write rejoin [dir "csv-" find/tail form name "table-"] to binary! to-csv table
        ]
    ]
]
print "done"
"""


def field(rng):
    return "".join(rng.choice(PIECES) for _ in range(rng.choice([0, 0, 1, 2, 3, 5])))


def table(rng):
    cols = rng.randint(1, 6)
    return [[field(rng) for _ in range(cols)] for _ in range(rng.randint(1, 8))]


def main():
    kiv = sys.argv[1]
    rng = random.Random(4180)
    tally = Tally()
    check = tally.check

    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        cases = {}
        for i in range(150):
            delimiter = [",", ";", "\t"][i % 3]
            terminator = ["\r\n", "\n"][i // 3 % 2]
            quoting = [csv.QUOTE_MINIMAL, csv.QUOTE_ALL][i // 6 % 2]
            # Python's writer leaves a CR bare when the line end is LF, and
            # its own reader then splits the field: such tables are drawn
            # again.
            while True:
                rows = table(rng)
                out = io.StringIO()
                csv.writer(out, delimiter=delimiter, lineterminator=terminator, quoting=quoting).writerows(rows)
                text = out.getvalue()
                if list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter)) == rows:
                    break
            if i // 12 % 2:
                text = text[: -len(terminator)]
            name = f"{i:03d}.csv"
            cases[name] = rows
            (folder / f"in-{name}").write_bytes(text.encode())
            (folder / f"spec-{name}").write_text(json.dumps({"delimiter": delimiter}))
            (folder / f"table-{name}").write_text(json.dumps(rows))
        script = folder / "run.kiv"
        script.write_text(KIV_SCRIPT % json.dumps(str(folder) + "/"))
        done = subprocess.run([kiv, "--cli", str(script)], capture_output=True, text=True, timeout=300)
        check(done.returncode == 0 and "done" in done.stdout, f"kiv ran: {done.stdout[-500:]} {done.stderr[-500:]}")
        for name, rows in cases.items():
            loaded = folder / f"rows-{name}.json"
            if loaded.exists():
                got = json.loads(loaded.read_text())
                check(got == rows, f"load-csv {name}: {got!r} for {rows!r}")
            else:
                check(False, f"load-csv {name}: no output")
            written = folder / f"csv-{name}"
            if written.exists():
                back = list(csv.reader(io.StringIO(written.read_bytes().decode(), newline="")))
                # A line with nothing on it is a row of one empty field to
                # load-csv, and no row to Python's reader.
                back = [row or [""] for row in back]
                check(back == rows, f"to-csv {name}: Python reads {back!r} for {rows!r}")
            else:
                check(False, f"to-csv {name}: no output")
    return tally.close()


if __name__ == "__main__":
    sys.exit(main())
