#!/usr/bin/env python3
"""Our DEFLATE, zlib and gzip coders against Python's zlib and gzip modules
and the gzip tool, both ways.

    compression_oracle.py PATH-TO-compression_cli

Every stream we write decodes there to the input; every stream they write
(zlib levels 0-9 and its strategies, gzip -9, gzip members joined) decodes
here to the same bytes. Prints "N passed, N failed" and exits 1 on a failure.
"""
import gzip
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zlib

from tally import Tally

CLI = sys.argv[1]
tally = Tally()


def check(name, ok, detail=""):
    tally.check(ok, f"{name} {detail}")


def run(action, method, data):
    done = subprocess.run([CLI, action, method], input=data, capture_output=True, timeout=120)
    return done.returncode, done.stdout, done.stderr.decode(errors="replace").strip()


def inputs():
    rng = random.Random(1)
    text = "".join(f"line {i * 7 % 113} of some text, with words {i % 17}\n" for i in range(20000)).encode()
    edge = bytearray(rng.randbytes(40000))
    edge[32767:32767 + 300] = edge[:300]
    edge[33768:33768 + 300] = edge[1000:1300]
    return {
        "empty": b"",
        "one byte": b"A",
        "all byte values": bytes(range(256)),
        "1 MB zeros": bytes(1 << 20),
        "1 MB random": rng.randbytes(1 << 20),
        "text": text,
        "window edge": bytes(edge),
        "runs": b"ab" * 1000 + b"a" * 700 + b"xyz" * 300,
    }


def raw_compress(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


def main():
    cases = inputs()
    # Ours to theirs.
    for name, data in cases.items():
        code, out, err = run("encode", "deflate", data)
        check(f"deflate {name}", code == 0 and zlib.decompress(out, -15) == data, err)
        code, out, err = run("encode", "zlib", data)
        check(f"zlib {name}", code == 0 and zlib.decompress(out) == data, err)
        code, out, err = run("encode", "gzip", data)
        ok = code == 0 and gzip.decompress(out) == data
        if ok and shutil.which("gzip"):
            ok = subprocess.run(["gzip", "-t"], input=out, capture_output=True).returncode == 0
        check(f"gzip {name}", ok, err)

    # Theirs to ours.
    sample = {k: cases[k] for k in ("empty", "all byte values", "1 MB random", "text", "window edge", "runs")}
    for name, data in sample.items():
        for level in range(10):
            code, out, err = run("decode", "zlib", zlib.compress(data, level))
            check(f"zlib level {level} {name}", code == 0 and out == data, err)
        for strategy in (zlib.Z_FIXED, zlib.Z_HUFFMAN_ONLY, zlib.Z_RLE, zlib.Z_FILTERED):
            code, out, err = run("decode", "deflate", raw_compress(data, 6, strategy))
            check(f"deflate strategy {strategy} {name}", code == 0 and out == data, err)
        code, out, err = run("decode", "gzip", gzip.compress(data, 9))
        check(f"python gzip {name}", code == 0 and out == data, err)
    # A large text stream with many dynamic blocks.
    big = cases["text"] * 6
    code, out, err = run("decode", "zlib", zlib.compress(big, 6))
    check("zlib large text", code == 0 and out == big, err)

    if shutil.which("gzip"):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "sample.txt")
            with open(path, "wb") as f:
                f.write(cases["text"])
            tool = subprocess.run(["gzip", "-9", "-c", path], capture_output=True).stdout  # name field set
            code, out, err = run("decode", "gzip", tool)
            check("gzip -9 tool", code == 0 and out == cases["text"], err)
            code, out, err = run("decode", "gzip", tool + gzip.compress(b"second member"))
            check("gzip members joined", code == 0 and out == cases["text"] + b"second member", err)

    # Streams cut short are refused by every framing.
    data = cases["text"][:3000]
    for method, stream in (("deflate", raw_compress(data, 9)), ("zlib", zlib.compress(data, 9)), ("gzip", gzip.compress(data))):
        refused = all(run("decode", method, stream[:cut])[0] == 1 for cut in range(0, len(stream), max(1, len(stream) // 40)))
        check(f"{method} truncations refused", refused)

    return tally.close()


if __name__ == "__main__":
    sys.exit(main())
