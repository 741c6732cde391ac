#!/usr/bin/env python3
"""quorvane-server under load, with and without its prepared-frame cache, and
one installation against bzip2 -dc and python3 -m http.server + curl, in one run.

    bench/server_bench.py BUILD_DIR [--clients 200] [--mib 20] [--runs 5]

Builds a package of MIB mebibytes (about 40 % compressible text in the DB
folder, a sub-folder and the top level, the rest already-compressed noise),
starts quorvane-server on a free 127.0.0.1 port and reports:
  - the first (cold) installation: the server prepares every file;
  - the server CPU per installation once warm (RUNS installations one after the
    other) and the same with --no-cache, and their ratio (goal: >= 20x);
  - CLIENTS installers at once (bench/server_load, one thread each, counting
    what arrives): all must finish; total time, server CPU, server peak memory;
  - one installation written to disk, against `bzip2 -dc` of the same data
    into a file and against fetching the same files from `python3 -m
    http.server` with one `curl` (one connection), as MiB/s of package data;
  - the peak memory of a fresh server holding 1,000 idle connections, and then
    under the decode amplification attack (`server_load --amplify`: 128
    requests of 257 bytes that decode to 30 MB each); goal below 256 MiB both.
Every address is on 127.0.0.0/8.
"""
import argparse
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time



def cpu_seconds(pid):
    """CPU time of every thread of the process, in nanosecond resolution (the
    scheduler's own account; /proc/PID/stat only counts whole clock ticks).
    Threads that have ended are counted through the process's stat."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except OSError:
            pass
    return total / 1e9


def peak_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1))


def make_package(root, mib):
    rng = random.Random(7)
    vocabulary = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
                  for _ in range(3000)]
    total = mib << 20
    text_total = total * 40 // 100
    made = 0
    folders = ["DB", "Data/Sub", ""]
    index = 0
    while made < text_total:
        size = min(rng.randint(50_000, 400_000), text_total - made)
        text = " ".join(rng.choice(vocabulary) for _ in range(size // 5 + 1)).encode()[:size]
        folder = os.path.join(root, folders[index % 3])
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"text{index}.dat"), "wb") as f:
            f.write(text)
        made += size
        index += 1
    while made < total:
        size = min(rng.randint(500_000, 3_000_000), total - made)
        folder = os.path.join(root, folders[index % 3])
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"media{index}.jpg"), "wb") as f:
            f.write(os.urandom(size))
        made += size
        index += 1
    return index


def start_server(binary, package, work, extra):
    os.makedirs(work, exist_ok=True)
    log = os.path.join(work, "server.log")
    process = subprocess.Popen([binary, "--package", package, "--listen", "127.0.0.1:0",
                                "--state", os.path.join(work, "state"), "--log", log] + extra)
    deadline = time.time() + 30
    while time.time() < deadline:
        if os.path.exists(log):
            match = re.search(r"serving .* on 127\.0\.0\.1:(\d+)", open(log).read())
            if match:
                return process, int(match.group(1))
        time.sleep(0.05)
    process.kill()
    sys.exit("the server did not start")


def stop(process):
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=60)


def load(binary, port, clients, folder, write=False):
    command = [binary, "--port", str(port), "--clients", str(clients), "--folder", folder]
    if not write:
        command.append("--no-write")
    start = time.perf_counter()
    out = subprocess.run(command, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    figures = dict(re.findall(r"(\w+)=(\S+)", out.stdout))
    if out.returncode != 0:
        print(out.stdout, out.stderr, file=sys.stderr)
    shutil.rmtree(folder, ignore_errors=True)
    return figures, elapsed


def idle_connections(port, count):
    """COUNT connections that say nothing, from four loopback source addresses
    (the server admits 256 per address)."""
    held = []
    for i in range(count):
        s = socket.socket()
        s.bind((f"127.0.0.{10 + i % 4}", 0))
        s.connect(("127.0.0.1", port))
        held.append(s)
    return held


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--clients", type=int, default=200)
    parser.add_argument("--mib", type=int, default=20)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    server = os.path.join(args.build, "server", "quorvane-server")
    loader = os.path.join(args.build, "bench", "server_load")
    work = tempfile.mkdtemp(prefix="quorvane-server-bench-")
    try:
        package = os.path.join(work, "package")
        files = make_package(package, args.mib)
        size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(package) for f in fs)
        mib = size / (1 << 20)
        print(f"package: {files} files, {mib:.1f} MiB; machine: {os.cpu_count()} cores")

        process, port = start_server(server, package, os.path.join(work, "cached"), [])
        before = cpu_seconds(process.pid)
        figures, elapsed = load(loader, port, 1, os.path.join(work, "out"))
        cold = cpu_seconds(process.pid) - before
        print(f"cold installation (prepares every file): {elapsed:.2f} s, server CPU {cold:.2f} s")
        before = cpu_seconds(process.pid)
        for _ in range(args.runs):
            load(loader, port, 1, os.path.join(work, "out"))
        warm = (cpu_seconds(process.pid) - before) / args.runs

        before = cpu_seconds(process.pid)
        figures, elapsed = load(loader, port, args.clients, os.path.join(work, "out"))
        busy = cpu_seconds(process.pid) - before
        print(f"{args.clients} concurrent installations: finished {figures.get('finished')} of "
              f"{figures.get('clients')} (failed {figures.get('failed')}, first error "
              f"{figures.get('first_error')}); total {elapsed:.2f} s; server CPU {busy:.2f} s "
              f"({busy / max(1, args.clients) * 1000:.1f} ms per installation); server peak "
              f"memory {peak_kib(process.pid) / 1024:.1f} MiB; "
              f"{int(figures.get('bytes', 0)) / (1 << 20) / elapsed:.0f} MiB/s of package data")

        # One installation written to disk, against the reference tools.
        out = os.path.join(work, "one")
        figures, one = load(loader, port, 1, out, write=True)
        stop(process)

        process, port = start_server(server, package, os.path.join(work, "uncached"), ["--no-cache"])
        before = cpu_seconds(process.pid)
        for _ in range(args.runs):
            load(loader, port, 1, os.path.join(work, "out"))
        uncached = (cpu_seconds(process.pid) - before) / args.runs
        stop(process)
        print(f"server CPU per installation: cached {warm * 1000:.1f} ms, without cache "
              f"{uncached * 1000:.1f} ms: {uncached / max(warm, 1e-6):.0f}x less with the cache "
              f"(over {args.runs} installations each)")

        joined = os.path.join(work, "joined")
        with open(joined, "wb") as f:
            for d, _, fs in sorted(os.walk(package)):
                for name in sorted(fs):
                    with open(os.path.join(d, name), "rb") as g:
                        f.write(g.read())
        subprocess.run(["bzip2", "-9", "-k", joined], check=True)
        start = time.perf_counter()
        with open(joined + ".out", "wb") as f:
            subprocess.run(["bzip2", "-dc", joined + ".bz2"], stdout=f, check=True)
        bzip = time.perf_counter() - start

        http_port = free_port()
        http = subprocess.Popen([sys.executable, "-m", "http.server", str(http_port), "--bind",
                                 "127.0.0.1", "--directory", package],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1.0)
        config = os.path.join(work, "curl.cfg")
        fetched = os.path.join(work, "fetched")
        with open(config, "w") as f:
            for d, _, fs in os.walk(package):
                for name in fs:
                    rel = os.path.relpath(os.path.join(d, name), package)
                    f.write(f'url = "http://127.0.0.1:{http_port}/{rel}"\n')
                    f.write(f'output = "{os.path.join(fetched, rel)}"\n')
        start = time.perf_counter()
        subprocess.run(["curl", "-s", "--fail", "--create-dirs", "-K", config], check=True)
        curl = time.perf_counter() - start
        http.terminate()
        http.wait()
        print(f"one installation written to disk: {one:.2f} s = {mib / one:.0f} MiB/s; "
              f"bzip2 -dc of the same data: {bzip:.2f} s = {mib / bzip:.0f} MiB/s; "
              f"python3 -m http.server + curl: {curl:.2f} s = {mib / curl:.0f} MiB/s")

        process, port = start_server(server, package, os.path.join(work, "hostile"), [])
        held = idle_connections(port, 1000)
        time.sleep(1.0)
        idle = peak_kib(process.pid) / 1024
        for s in held:
            s.close()
        out = subprocess.run([loader, "--port", str(port), "--amplify"], capture_output=True,
                             text=True)
        attack = peak_kib(process.pid) / 1024
        stop(process)
        print(f"server peak memory: {idle:.1f} MiB with 1000 idle connections; {attack:.1f} MiB "
              f"after the amplification attack ({out.stdout.strip()}); goal below 256 MiB")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
