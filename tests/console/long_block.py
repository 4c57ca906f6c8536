#!/usr/bin/env python3
"""A block kept open over many lines, typed into the console.

usage: long_block.py KIV LINES

Each line holds a number, a string and a block. The console must gather
every line and evaluate the block once it closes.
"""
import subprocess
import sys

kiv, count = sys.argv[1], int(sys.argv[2])
lines = ["x: ["] + [f'  {i} "s{i}" [a b]' for i in range(count)] + ["]", "length? x"]
run = subprocess.run([kiv, "--cli"], input="\n".join(lines).encode() + b"\n", capture_output=True, timeout=600)
last = run.stdout.decode().rstrip("\n").split("\n")[-1]
if run.returncode != 0 or last != f"== {3 * count}":
    print(f"status {run.returncode}, last line {last!r}")
    sys.exit(1)
print("read", count, "lines")
