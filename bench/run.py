#!/usr/bin/env python3
"""Times every benchmark script in bench/ with the release build of kiv.

Prints the median wall time of several runs of each script.
"""
import pathlib
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
KIV = ROOT / "build-release" / "kiv"


def time_run(script: pathlib.Path) -> float:
    start = time.perf_counter()
    subprocess.run([str(KIV), "--cli", str(script)], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main() -> None:
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    print(f"{'benchmark':<16} {'median (s)':>10}")
    for script in sorted((ROOT / "bench").glob("*.kiv")):
        times = [time_run(script) for _ in range(runs)]
        print(f"{script.stem:<16} {statistics.median(times):>10.3f}")
    subprocess.run([str(ROOT / "build-release" / "lexer_bench")], check=True)


if __name__ == "__main__":
    main()
