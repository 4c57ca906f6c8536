#!/usr/bin/env python3
"""Runs a whole console session and compares it with its golden file.

usage: session.py KIV SESSION.in

The session's lines go to `kiv --cli` on standard input (a pipe: no prompt
is written). Standard output, after the banner, must equal SESSION.out;
the process must end with status 0. The banner is checked apart, since it
carries the version.
"""
import pathlib
import re
import subprocess
import sys


def main():
    kiv, session = sys.argv[1], pathlib.Path(sys.argv[2])
    expected = session.with_suffix(".out").read_text(encoding="utf-8")
    run = subprocess.run([kiv, "--cli"], input=session.read_bytes(), capture_output=True, timeout=120)
    out = run.stdout.decode("utf-8", "replace")
    banner = re.match(r"--== Kiv \S+ ==-- ?\nType HELP for starting information\. ?\n\n", out)
    failures = []
    if not banner:
        failures.append("no banner at the start")
    else:
        out = out[banner.end():]
    if out != expected:
        failures.append("output differs:\n--- expected\n" + expected + "--- got\n" + out)
    if run.returncode != 0:
        failures.append(f"status {run.returncode}, stderr: {run.stderr.decode('utf-8', 'replace')}")
    if failures:
        print("\n".join(failures))
        sys.exit(1)
    print("session matches")


main()
