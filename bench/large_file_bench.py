#!/usr/bin/env python3
"""How long an installer waits while the server compresses a large file: a
package of one text file of MIB mebibytes (default: the largest the protocol
carries, 1 GiB less one byte), served by quorvane-server once per --workers
value. An installer connects as soon as the server listens. Reported: the
installer's whole time and whether it got the file plain because the
compression outlasted the server's patience, the time the compressed frames
were ready (the server logs it), the server's CPU time and peak memory. Every address is on 127.0.0.1.

    bench/large_file_bench.py BUILD_DIR [--mib 1024] [--workers 1,2] [--level 9] [--wait 1200]
"""
import argparse
import os
import random
import re
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import server_bench  # noqa: E402  (its server and load helpers)

MAX_FILE = (1 << 30) - 1


def make_text(path, mib):
    rng = random.Random(11)
    vocabulary = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
                  for _ in range(3000)]
    # 8 MiB of words, repeated: bzip2 blocks are under 1 MiB, so each block costs what new text would.
    chunk = " ".join(rng.choice(vocabulary) for _ in range((8 << 20) // 5)).encode()[:8 << 20]
    size = min(mib << 20, MAX_FILE)
    with open(path, "wb") as f:
        for at in range(0, size, len(chunk)):
            f.write(chunk[:size - at])
    return size


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--mib", type=int, default=1024)
    parser.add_argument("--workers", default="1,2")
    parser.add_argument("--level", type=int, default=9)
    parser.add_argument("--wait", type=int, default=1200, help="seconds to wait for the compression")
    args = parser.parse_args()
    server = os.path.join(args.build, "server", "quorvane-server")
    loader = os.path.join(args.build, "bench", "server_load")
    work = tempfile.mkdtemp(prefix="quorvane-large-bench-")
    try:
        package = os.path.join(work, "package")
        os.makedirs(package)
        size = make_text(os.path.join(package, "big.txt"), args.mib)
        print(f"package: one text file of {size} bytes; level {args.level}; "
              f"machine: {os.cpu_count()} cores, load {os.getloadavg()[0]:.1f}")
        for workers in [int(w) for w in args.workers.split(",")]:
            run = os.path.join(work, f"workers{workers}")
            process, port = server_bench.start_server(
                server, package, run, ["--workers", str(workers), "--level", str(args.level)])
            figures, elapsed = server_bench.load(loader, port, 1, os.path.join(work, "out"))
            log_path = os.path.join(run, "server.log")
            deadline = time.time() + args.wait
            while time.time() < deadline and "cache: prepared big.txt" not in open(log_path).read():
                time.sleep(1)
            log = open(log_path).read()
            prepared = re.search(r"cache: prepared big\.txt; .* in ([\d.]+) s", log)
            plain = "sent plain" in log
            cpu = server_bench.cpu_seconds(process.pid)
            peak = server_bench.peak_kib(process.pid) / 1024
            server_bench.stop(process)
            print(f"--workers {workers}: installer finished {figures.get('finished')} in "
                  f"{elapsed:.1f} s ({'sent plain after the patience' if plain else 'compressed'}); "
                  f"compressed frames ready {prepared.group(1) if prepared else '?'} s after start; "
                  f"server CPU {cpu:.1f} s, peak memory {peak:.0f} MiB; load "
                  f"{os.getloadavg()[0]:.1f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
