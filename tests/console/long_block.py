#!/usr/bin/env python3
"""A block, or a string, kept open over many lines, typed into the console.

usage: long_block.py KIV LINES [string]

Each line of the block holds a number, a string and a block; with `string`
the lines are the text of one string in braces. The console must gather
every line and evaluate the value once it closes.
"""
import subprocess
import sys

kiv, count = sys.argv[1], int(sys.argv[2])
if sys.argv[3:] == ["string"]:
    body = [f"line {i} of the text" for i in range(count)]
    lines = ["x: {"] + body + ["}", "length? x"]
    expected = len("\n" + "\n".join(body) + "\n")
else:
    lines = ["x: ["] + [f'  {i} "s{i}" [a b]' for i in range(count)] + ["]", "length? x"]
    expected = 3 * count
run = subprocess.run([kiv, "--cli"], input="\n".join(lines).encode() + b"\n", capture_output=True, timeout=600)
last = run.stdout.decode().rstrip("\n").split("\n")[-1]
if run.returncode != 0 or last != f"== {expected}":
    print(f"status {run.returncode}, last line {last!r}")
    sys.exit(1)
print("read", count, "lines")
