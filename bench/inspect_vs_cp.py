#!/usr/bin/env python3
"""quorvane-inspect convert --raw against cp, in one run, on the same input.

    bench/inspect_vs_cp.py BUILD_DIR [--mib 256] [--rounds 7] [--previous PROGRAM]

Makes a bare object stream of a TSOFile whose payload is MIB mebibytes, then
alternates `cp IN OUT` and `quorvane-inspect convert --raw IN OUT` ROUNDS times
in a scratch folder beside the build (same file system for both), and reports
the median wall time and the peak resident memory of each, with the ratios the
tool is held to: time <= 2x cp, memory <= 2x the payload. It also times the
refusal of a 1 GiB file of another kind and of a compressed bomb. --previous
runs another build of quorvane-inspect in the same rounds, for a before/after.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run(command):
    """Wall seconds, CPU seconds and peak resident KiB of one child process.

    /usr/bin/time starts the child: Linux carries the peak of the process that
    forks over an exec, so a child forked by this (larger) script would report
    at least the script's own memory."""
    with tempfile.NamedTemporaryFile("r") as figures:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-o", figures.name, "-f", "%U %S %M"] + command,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        elapsed = time.perf_counter() - start
        user, system, peak = figures.read().split()[-3:]
    return elapsed, float(user) + float(system), int(peak), done.returncode, done.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--previous", help="another quorvane-inspect to run alongside")
    args = parser.parse_args()
    tool = os.path.join(args.build_dir, "tools", "quorvane-inspect")
    maker = os.path.join(args.build_dir, "bench", "inspect_make_input")
    for program in (tool, maker):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: build quorvane-inspect and inspect_make_input")

    scratch = tempfile.mkdtemp(prefix="inspect-bench-", dir=args.build_dir)
    try:
        source = os.path.join(scratch, "in.bin")
        subprocess.run([maker, "stream", source, str(args.mib)], check=True,
                       stdout=subprocess.DEVNULL)
        payload = args.mib << 20
        size = os.path.getsize(source)
        print(f"input: bare TSOFile stream of {size} bytes, payload {payload} bytes")
        subprocess.run(["cat", source], stdout=subprocess.DEVNULL, check=True)  # warm the cache

        names = ("cp", "inspect", "cp+sync") + (("previous",) if args.previous else ())
        times = {name: [] for name in names}
        cpu = {name: [] for name in names}
        peaks = {name: [] for name in names}
        for round_ in range(args.rounds):
            for name in (names if round_ % 2 == 0 else tuple(reversed(names))):
                out = os.path.join(scratch, f"out.{name}")
                command = {"cp": ["cp", source, out],
                           "inspect": [tool, "convert", "--raw", source, out],
                           "previous": [args.previous, "convert", "--raw", source, out],
                           # the same durability as the tool's output
                           "cp+sync": ["sh", "-c", f"cp '{source}' '{out}' && sync '{out}'"]}[name]
                elapsed, cpu_s, peak_kib, code, err = run(command)
                if code != 0:
                    sys.exit(f"{' '.join(command)} failed ({code}): {err}")
                times[name].append(elapsed)
                cpu[name].append(cpu_s)
                peaks[name].append(peak_kib)
                os.remove(out)

        cp_time = statistics.median(times["cp"])
        tool_time = statistics.median(times["inspect"])
        tool_peak = max(peaks["inspect"]) * 1024
        cp_cpu = statistics.median(cpu["cp"])
        tool_cpu = statistics.median(cpu["inspect"])
        for name in names:
            print(f"{name + ':':9} wall " + " ".join(f"{t:.3f}" for t in times[name]) +
                  f" s; median wall {statistics.median(times[name]):.3f} s, "
                  f"median CPU {statistics.median(cpu[name]):.3f} s, "
                  f"peak RSS {max(peaks[name]) / 1024:.1f} MiB")
        print(f"time ratio inspect/cp:        {tool_time / cp_time:.2f} wall, "
              f"{tool_cpu / max(cp_cpu, 0.001):.2f} CPU (goal <= 2)")
        sync_time = statistics.median(times["cp+sync"])
        print(f"time ratio inspect/(cp+sync): {tool_time / sync_time:.2f} wall "
              "(inspect flushes its output to the disk before renaming it; cp does not)")
        print(f"memory ratio peak/payload:    {tool_peak / payload:.3f} (goal <= 2)")
        if args.previous:
            previous_time = statistics.median(times["previous"])
            print(f"previous: median wall {previous_time:.3f} s = "
                  f"{previous_time / cp_time:.2f}x cp, peak RSS "
                  f"{max(peaks['previous']) * 1024 / payload:.3f}x the payload")

        # Refusals: a 1 GiB file that is no object file (sparse, so making it is
        # free) and a compressed block of zeros.
        other = os.path.join(scratch, "other.dat")
        with open(other, "wb") as f:
            f.write(b"X")
            f.truncate(1 << 30)
        elapsed, _, peak_kib, code, err = run([tool, "text", other])
        print(f"1 GiB of another kind:  exit {code} in {elapsed:.3f} s, "
              f"peak RSS {peak_kib / 1024:.1f} MiB: {err.strip()}")
        bomb = os.path.join(scratch, "bomb.zub")
        subprocess.run([maker, "bomb", bomb, "512"], check=True, stdout=subprocess.DEVNULL)
        elapsed, _, peak_kib, code, err = run([tool, "text", bomb])
        print(f"{os.path.getsize(bomb)}-byte bomb of 512 MiB of zeros: exit {code} in "
              f"{elapsed:.3f} s, peak RSS {peak_kib / 1024:.1f} MiB: {err.strip()}")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
