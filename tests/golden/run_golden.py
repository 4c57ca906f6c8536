#!/usr/bin/env python3
"""Runs a Kiv script and compares what it prints with a kept transcript.

usage: run_golden.py KIV SCRIPT EXPECTED

Standard output and standard error are compared together, with times
(such as 0:00:00.000123) written as <time>, since they differ from run to
run. On a difference the unified diff is printed and the status is 1.
"""
import difflib
import re
import subprocess
import sys

TIME = re.compile(r"-?\d+:\d\d:\d\d(\.\d+)?")


def masked(text):
    return TIME.sub("<time>", text)


def main():
    kiv, script, expected_path = sys.argv[1:4]
    run = subprocess.run([kiv, "--cli", script], capture_output=True, text=True, timeout=120)
    actual = masked(run.stdout + run.stderr)
    with open(expected_path, encoding="utf-8") as f:
        expected = f.read()
    if actual == expected:
        print("transcript matches")
        return 0
    sys.stdout.writelines(difflib.unified_diff(
        expected.splitlines(True), actual.splitlines(True), "expected", "actual"))
    return 1


if __name__ == "__main__":
    sys.exit(main())
