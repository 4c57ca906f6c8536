#!/usr/bin/env python3
"""Runs a whole console session and compares it with its golden file.

usage: session.py KIV SESSION.in

The session's lines go to `kiv --cli` on standard input (a pipe: no prompt
is written), in a new empty folder of its own, whose path is written <dir>
in SESSION.out. Standard output, after the banner, must equal SESSION.out;
the process must end with status 0. The banner is checked apart, since it
carries the version.
"""
import os
import pathlib
import re
import subprocess
import sys
import tempfile


def main():
    kiv, session = os.path.abspath(sys.argv[1]), pathlib.Path(sys.argv[2])
    expected = session.with_suffix(".out").read_text(encoding="utf-8")
    with tempfile.TemporaryDirectory() as folder:
        folder = os.path.realpath(folder)
        run = subprocess.run([kiv, "--cli"], input=session.read_bytes(), capture_output=True, timeout=120,
                             cwd=folder)
        out = run.stdout.decode("utf-8", "replace").replace(folder, "<dir>")
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
