#!/usr/bin/env python3
"""Times every benchmark in bench/ with the release build of kiv, side by side
with the same program for the peer interpreters in bench/peers/.

    bench/run.py [runs] [--runs N] [--build DIR] [--only NAME,...] [--cpu]

Every benchmark runs `runs` times (default 5) for each implementation, the
implementations taking turns so that a change of machine load hits all of
them alike. The table shows the median time of each implementation, the ratio
kiv / peer and the peak memory (max RSS). Each program prints one checksum
line: a peer whose output differs from kiv's is flagged and makes the runner
end with status 1, as does a program that fails.
A peer interpreter missing on the machine is shown as "-".
Last, lexer_bench from the same build runs and its line is printed.

Peak memory: Linux keeps the high-water RSS of the process image that a
child replaces when it starts a program, so for a child of this Python
process getrusage / wait4 report at least the runner's own RSS. One more run
of each program under /usr/bin/time, a small process, gives the true figure;
without it the wait4 figure is shown, as "<N" when it does not exceed the
runner's own RSS of N MB.
"""
import argparse
import os
import pathlib
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

ROOT = pathlib.Path(__file__).resolve().parent.parent
BENCH = ROOT / "bench"
PEERS = BENCH / "peers"


@dataclass
class Impl:
    name: str              # column title
    extension: str         # of its benchmark files
    command: list | None   # interpreter command, None when missing
    version: str = ""


@dataclass
class Result:
    times: list = field(default_factory=list)
    rss_kb: int = 0
    output: str | None = None   # the first run's stdout, stripped
    error: str = ""             # why a run failed, empty when none did

    def median(self) -> float | None:
        return statistics.median(self.times) if self.times and not self.error else None


def find_command(candidates: list) -> str | None:
    for candidate in candidates:
        path = shutil.which(candidate)
        if path:
            return path
    return None


def version_of(command: list, args: list, stdin: str = "") -> str:
    try:
        done = subprocess.run(command + args, input=stdin, capture_output=True, text=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return "?"
    text = (done.stdout or done.stderr).strip()
    return text.splitlines()[0] if text else "?"


def peer_impls() -> list:
    # The Debian interpreter comes first: a version-manager shim in PATH adds
    # its own start-up time to every run.
    python = find_command(["/usr/bin/python3", "python3"])
    lua = find_command(["lua5.4"])
    tcl = find_command(["tclsh8.6"])
    impls = [
        Impl("python", "py", [python] if python else None),
        Impl("lua", "lua", [lua] if lua else None),
        Impl("tcl", "tcl", [tcl] if tcl else None),
    ]
    versions = {"python": (["--version"], ""), "lua": (["-v"], ""), "tcl": ([], "puts [info patchlevel]\n")}
    for impl in impls:
        if impl.command:
            args, stdin = versions[impl.name]
            impl.version = version_of(impl.command, args, stdin)
    return impls


def run_once(argv: list) -> tuple:
    """Runs argv; returns (seconds, cpu seconds, max RSS in KB, exit code, stdout, stderr).

    os.wait4 gives the resource usage of this one child, where
    resource.getrusage(RUSAGE_CHILDREN) would keep the largest RSS of any child so far.
    """
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err)
        out = process.stdout.read()
        process.stdout.close()
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        process.returncode = code
        err.seek(0)
        error_text = err.read().decode(errors="replace")
    cpu = usage.ru_utime + usage.ru_stime
    return seconds, cpu, usage.ru_maxrss, code, out.decode(errors="replace"), error_text


TIME = "/usr/bin/time"


def peak_rss_kb(argv: list) -> int | None:
    """Max RSS of one run of argv in KB, measured by /usr/bin/time."""
    with tempfile.NamedTemporaryFile("r") as report:
        done = subprocess.run([TIME, "-f", "%M", "-o", report.name] + argv, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        lines = report.read().split()
    if done.returncode != 0 or not lines or not lines[-1].isdigit():
        return None
    return int(lines[-1])


def measure(argv: list, result: Result, use_cpu: bool) -> None:
    if result.error:
        return
    seconds, cpu, rss, code, out, err = run_once(argv)
    if code != 0:
        # kiv reports script errors on stdout; a Python traceback ends with its message.
        lines = [line for line in (err.strip() or out.strip()).splitlines() if line.strip()]
        message = ""
        if lines:
            message = lines[-1] if lines[0].startswith("Traceback") else lines[0]
        result.error = f"exit {code}" + (f": {message.strip()}" if message else "")
        return
    result.times.append(cpu if use_cpu else seconds)
    result.rss_kb = max(result.rss_kb, rss)
    out = out.strip()
    if result.output is None:
        result.output = out
    elif out != result.output:
        result.error = "output changed between runs"


def cell_time(result: Result | None) -> str:
    if result is None:
        return "-"
    if result.error:
        return "fail"
    return f"{result.median():.3f}"


def cell_ratio(kiv: Result, peer: Result | None) -> str:
    if peer is None or peer.median() is None or kiv.median() is None:
        return "-"
    if peer.median() <= 0:
        return "-"
    return f"{kiv.median() / peer.median():.2f}"


def cell_rss(result: Result | None, exact: bool) -> str:
    if result is None or result.error or not result.rss_kb:
        return "-"
    own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    if not exact and result.rss_kb <= own:
        return f"<{own / 1024:.1f}"
    return f"{result.rss_kb / 1024:.1f}"


def print_table(header: list, rows: list) -> None:
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]
    def line(row):
        first = f"{row[0]:<{widths[0]}}"
        rest = [f"{cell:>{width}}" for cell, width in zip(row[1:], widths[1:])]
        return "  ".join([first] + rest)
    print(line(header))
    print("  ".join("-" * w for w in widths))
    for row in rows:
        print(line(row))


def main() -> int:
    parser = argparse.ArgumentParser(description="Benchmarks kiv against peer interpreters.")
    parser.add_argument("runs_positional", nargs="?", type=int, metavar="runs", help="runs per program (default 5)")
    parser.add_argument("--runs", type=int, help="runs per program (default 5)")
    parser.add_argument("--build", type=pathlib.Path, default=ROOT / "build-release",
                        help="directory holding kiv and lexer_bench (default build-release/)")
    parser.add_argument("--only", help="comma-separated benchmark names")
    parser.add_argument("--cpu", action="store_true",
                        help="report user + system CPU time instead of wall time (steadier on a busy machine)")
    options = parser.parse_args()
    runs = options.runs or options.runs_positional or 5
    build = options.build.resolve()
    kiv = build / "kiv"
    if not kiv.is_file():
        print(f"run.py: {kiv} not found; build it with scripts/build.sh release", file=sys.stderr)
        return 2

    scripts = sorted(BENCH.glob("*.kiv"))
    if options.only:
        wanted = set(options.only.split(","))
        unknown = wanted - {s.stem for s in scripts}
        if unknown:
            print(f"run.py: no such benchmark: {', '.join(sorted(unknown))}", file=sys.stderr)
            return 2
        scripts = [s for s in scripts if s.stem in wanted]

    # The codec benchmarks read data files that make_data.py writes once.
    subprocess.run([sys.executable, str(BENCH / "make_data.py")], check=True)
    peers = peer_impls()
    exact_rss = os.access(TIME, os.X_OK)
    print(f"kiv: {kiv}")
    for impl in peers:
        where = f"{impl.command[0]} ({impl.version})" if impl.command else "not installed"
        print(f"{impl.name}: {where}")
    load = " ".join(f"{x:.2f}" for x in os.getloadavg())
    kind = "CPU (user + system)" if options.cpu else "wall"
    print(f"{runs} runs each, median {kind} time in seconds; ratio = kiv / peer; load average {load}")
    print()

    failed = False
    time_rows, rss_rows, notes = [], [], []
    for script in scripts:
        name = script.stem
        jobs = [("kiv", [str(kiv), "--cli", str(script)], Result())]
        for impl in peers:
            source = PEERS / f"{name}.{impl.extension}"
            if impl.command and source.is_file():
                jobs.append((impl.name, impl.command + [str(source)], Result()))
        for _ in range(runs):
            for _, argv, result in jobs:
                measure(argv, result, options.cpu)
        if exact_rss:
            for _, argv, result in jobs:
                if not result.error:
                    result.rss_kb = peak_rss_kb(argv) or 0
        results = {impl_name: result for impl_name, _, result in jobs}
        kiv_result = results["kiv"]

        for impl_name, _, result in jobs:
            if result.error:
                failed = True
                notes.append(f"{name}/{impl_name}: {result.error}")
        mismatch = []
        if kiv_result.output is not None:
            for impl_name, _, result in jobs[1:]:
                if result.output is not None and result.output != kiv_result.output:
                    mismatch.append(impl_name)
                    notes.append(f"{name}: kiv printed {kiv_result.output!r}, {impl_name} printed {result.output!r}")
        if mismatch:
            failed = True

        label = name + (" !" if mismatch else "")
        time_rows.append([label, cell_time(kiv_result)]
                         + [cell_time(results.get(impl.name)) for impl in peers]
                         + [cell_ratio(kiv_result, results.get(impl.name)) for impl in peers])
        rss_rows.append([name] + [cell_rss(results.get(n), exact_rss) for n in ["kiv"] + [impl.name for impl in peers]])
        sys.stdout.flush()

    names = [impl.name for impl in peers]
    print_table(["benchmark", "kiv"] + names + [f"kiv/{n}" for n in names], time_rows)
    print()
    source = "one run under /usr/bin/time" if exact_rss else "wait4; /usr/bin/time missing"
    print(f"peak memory (max RSS in MB, {source})")
    print_table(["benchmark", "kiv"] + names, rss_rows)
    if notes:
        print()
        print("! outputs that differ or programs that failed:")
        for note in notes:
            print(f"  {note}")

    print()
    lexer_bench = build / "lexer_bench"
    if lexer_bench.is_file():
        done = subprocess.run([str(lexer_bench)], capture_output=True, text=True)
        print(done.stdout.strip() or done.stderr.strip())
        if done.returncode != 0:
            failed = True
    else:
        print(f"lexer_bench: {lexer_bench} not found")
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
