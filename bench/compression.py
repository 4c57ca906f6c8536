#!/usr/bin/env python3
"""Times our zlib coder beside Python's zlib on 50 MB of mixed text.

    bench/compression.py [--build DIR] [--runs N] [--mb N]

The text is made here (words drawn by a fixed generator, numbers and
punctuation), then: decompressing its level-6 zlib stream, ours against
zlib.decompress; compressing it, ours against zlib.compress at level 1
(our stream is one fixed-Huffman block, so it is also checked to decode
to the input). Prints the best of N runs of each and the ratios
(zlib time / ours: above 1 is faster). Times are processor time, which
a shared machine's other loads disturb less than the wall clock.
"""
import argparse
import pathlib
import random
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent


def mixed_text(megabytes: int) -> bytes:
    rng = random.Random(20261211)
    words = [bytes(rng.choice(b"etaoinshrdlucmfwypvbgkjqxz") for _ in range(rng.randint(2, 11))) for _ in range(5000)]
    parts, size = [], 0
    while size < megabytes << 20:
        line = b" ".join(rng.choice(words) for _ in range(rng.randint(5, 14)))
        line += b" %d, %0.3f.\n" % (rng.randint(0, 99999), rng.random() * 1000)
        parts.append(line)
        size += len(line)
    return b"".join(parts)[: megabytes << 20]


def best_of(runs: int, work) -> float:
    best = float("inf")
    for _ in range(runs):
        start = time.process_time()
        work()
        best = min(best, time.process_time() - start)
    return best


def ours(build: pathlib.Path, action: str, path: str, runs: int, out: str = "") -> tuple:
    argv = [str(build / "compression_bench"), action, path, str(runs)] + ([out] if out else [])
    done = subprocess.run(argv, capture_output=True, text=True, check=True)
    seconds, size = done.stdout.split()
    return float(seconds), int(size)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(ROOT / "build-release"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--mb", type=int, default=50)
    args = parser.parse_args()
    build = pathlib.Path(args.build)

    text = mixed_text(args.mb)
    stream6 = zlib.compress(text, 6)
    with tempfile.TemporaryDirectory() as folder:
        text_path, stream_path = f"{folder}/text", f"{folder}/text.zlib"
        pathlib.Path(text_path).write_bytes(text)
        pathlib.Path(stream_path).write_bytes(stream6)

        zlib_inflate = best_of(args.runs, lambda: zlib.decompress(stream6))
        our_inflate, size = ours(build, "decode-zlib", stream_path, args.runs)
        assert size == len(text)
        zlib_deflate1 = best_of(args.runs, lambda: zlib.compress(text, 1))
        our_deflate, our_size = ours(build, "encode-zlib", text_path, args.runs, f"{folder}/ours.zlib")
        # Our stream decodes with zlib to the input.
        assert zlib.decompress(pathlib.Path(f"{folder}/ours.zlib").read_bytes()) == text


    mb = len(text) / 1e6
    print(f"input: {mb:.1f} MB of mixed text; level-6 stream {len(stream6) / 1e6:.1f} MB; our stream {our_size / 1e6:.1f} MB")
    print(f"decompress  ours {our_inflate:.3f}s ({mb / our_inflate:.0f} MB/s)  zlib {zlib_inflate:.3f}s ({mb / zlib_inflate:.0f} MB/s)  "
          f"speed ours/zlib {zlib_inflate / our_inflate:.2f}x")
    print(f"compress    ours {our_deflate:.3f}s ({mb / our_deflate:.0f} MB/s)  zlib level 1 {zlib_deflate1:.3f}s ({mb / zlib_deflate1:.0f} MB/s)  "
          f"speed ours/zlib {zlib_deflate1 / our_deflate:.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
