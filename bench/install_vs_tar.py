#!/usr/bin/env python3
"""End-to-end installation throughput, in one run on this machine.

A package of about 200 MB of mixed files (text-like files that compress well,
and already-compressed ones) is installed into a fresh program folder by the
real quorvane-setup, through a danted SOCKS 4 relay, from quorvane-server on
127.0.0.1-3. The reference is the same files as a .tar.bz2 served by
python3 -m http.server, fetched with curl and piped into tar -xj. Both write
to the same file system. The server's compressed frames are prepared by a
warm-up installation first, as the archive is prepared before its timing.

Prints both times, the ratio (installer / tar pipeline; goal <= 1.0), and the
installer's peak resident memory against the largest file (goal <= 2.5x).

With --sign, the comparison is instead signed against unsigned installations: a
second server signs its manifest with a key made by `quorvane-server keygen`, and
the installers it serves hold the public key (so every file is hashed and checked
before it is written). Installations alternate between the two, --rounds of each;
the medians and their ratio are printed (goal <= 1.10).

    bench/install_vs_tar.py [--build build/default] [--megabytes 200] [--text-share 0.5]
                            [--sign [--rounds 3]]
"""
import argparse
import os
import random
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(ip, port, limit=15.0):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        try:
            socket.create_connection((ip, port), 0.5).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing answers on {ip}:{port}")


def make_package(root, megabytes, text_share=0.5):
    """Half text-like files of 1 KiB to 2 MiB, half random (already compressed)
    files of up to 40 MiB; returns (file count, total bytes, largest file)."""
    rng = random.Random(11)
    words = [b"quorvane", b"installer", b"relay", b"frame", b"object", b"package",
             b"update", b"server", b"customer", b"partner", b"\n"]
    budget = megabytes * 1024 * 1024
    text_budget, total, count, largest = int(budget * text_share), 0, 0, 0
    folder_names = ["DB", "DB/tables", "Program", "Program/plugins", "Help/en", "Help/fr", "Media"]
    for name in folder_names:
        os.makedirs(os.path.join(root, name), exist_ok=True)
    block = b" ".join(rng.choice(words) for _ in range(400000))
    while total < text_budget:
        size = min(int(rng.lognormvariate(9.5, 1.6)) + 1024, 2 * 1024 * 1024)
        start = rng.randrange(0, len(block) - size)
        folder = rng.choice(folder_names[:6])
        with open(os.path.join(root, folder, f"t{count:05}.txt"), "wb") as f:
            f.write(block[start:start + size])
        total, count, largest = total + size, count + 1, max(largest, size)
    sizes = [40, 32, 24, 16, 8, 4, 2, 1]
    i = 0
    while total < budget:
        size = min(sizes[i % len(sizes)] * 1024 * 1024, budget - total)
        with open(os.path.join(root, "Media", f"m{i:03}.bin"), "wb") as f:
            f.write(os.urandom(size))
        total, count, largest, i = total + size, count + 1, max(largest, size), i + 1
    with open(os.path.join(root, "QuorvaneCustomer.exe"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(root, "QuorvaneCustomer.exe"), 0o755)
    return count + 1, total, largest


def start(args, log, **kwargs):
    return subprocess.Popen(args, stdout=log, stderr=subprocess.STDOUT, **kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--megabytes", type=int, default=200)
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--text-share", type=float, default=0.5,
                        help="share of the package in text-like files (0 to 1)")
    parser.add_argument("--sign", action="store_true",
                        help="compare signed installations with unsigned ones instead of tar")
    parser.add_argument("--rounds", type=int, default=3, help="installations of each kind (--sign)")
    options = parser.parse_args()
    setup = os.path.abspath(os.path.join(options.build, "src/app/quorvane-setup"))
    server = os.path.abspath(os.path.join(options.build, "server/quorvane-server"))
    for program in (setup, server):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: build quorvane-setup and quorvane-server first")

    work = tempfile.mkdtemp(prefix="quorvane-bench-", dir=os.environ.get("TMPDIR", "/var/tmp"))
    processes = []
    log = open(os.path.join(work, "services.log"), "wb")
    try:
        package = os.path.join(work, "package")
        count, total, largest = make_package(package, options.megabytes, options.text_share)
        print(f"package: {count} files, {total / 1e6:.1f} MB, largest {largest / 1e6:.1f} MB")

        relay_port = free_port()
        with open(os.path.join(work, "danted.conf"), "w") as f:
            f.write(f"logoutput: {work}/danted.log\ninternal: 127.0.0.1 port = {relay_port}\n"
                    "external: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n"
                    "user.privileged: root\nuser.unprivileged: root\n"
                    "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 log: error }\n"
                    "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  command: connect\n"
                    "  log: error\n}\n"
                    "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 log: connect error }\n")
        processes.append(start(["/usr/sbin/danted", "-f", f"{work}/danted.conf",
                                "-p", f"{work}/danted.pid", "-N", "1"], log))
        wait_port("127.0.0.1", relay_port)

        def start_server(name, extra=()):
            port = free_port()
            args = [server, "--package", package, "--state", f"{work}/{name}-state",
                    "--log", f"{work}/{name}.log", *extra]
            for ip in ("127.0.0.1", "127.0.0.2", "127.0.0.3"):
                args += ["--listen", f"{ip}:{port}"]
            processes.append(start(args, log))
            for ip in ("127.0.0.1", "127.0.0.2", "127.0.0.3"):
                wait_port(ip, port)
            return port

        server_port = start_server("server")

        def install(name, server_port=server_port, site=""):
            folder = os.path.join(work, name)
            os.makedirs(folder)
            shutil.copy2(setup, folder)
            with open(os.path.join(folder, "site.toml"), "w") as f:
                f.write('relay_lan_prefix = "127.0.0."\n' + site)
            settings = os.path.join(folder, "settings.toml")
            with open(settings, "w") as f:
                f.write(f"[Server]\nPORTINST = {server_port}\nPROXYPORT = {relay_port}\n"
                        'PROXYIP = "127.0.0.1"\n[Language]\nID = 9\n')
            env = dict(os.environ, QUORVANE_SETTINGS=settings, QUORVANE_UI="console")
            env.pop("DISPLAY", None)
            began = time.monotonic()
            process = subprocess.Popen([os.path.join(folder, "quorvane-setup"), "nofs"], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            _, status, usage = os.wait4(process.pid, 0)
            elapsed = time.monotonic() - began
            setup_log = open(os.path.join(folder, "db", "setup.log"), errors="replace").read()
            if "installation finished" not in setup_log:
                sys.exit(f"installation into {folder} did not finish; see its db/setup.log")
            return elapsed, usage.ru_maxrss * 1024, usage.ru_utime + usage.ru_stime

        if options.sign:
            key = os.path.join(work, "vendor.key")
            subprocess.run([server, "keygen", "--key", key], check=True, stdout=subprocess.DEVNULL)
            public_key = open(key + ".pub").read().strip()
            signed_port = start_server("signed", ["--sign-key", key])
            site = f'package_public_key = "{public_key}"\n'
            install("warm-up", server_port)
            install("warm-up-signed", signed_port, site)
            plain, signed = [], []
            for round in range(options.rounds):
                plain.append(install(f"plain-{round}", server_port))
                signed.append(install(f"signed-{round}", signed_port, site))
                print(f"round {round + 1}: unsigned {plain[-1][0]:.2f} s (installer CPU "
                      f"{plain[-1][2]:.2f} s), signed {signed[-1][0]:.2f} s (CPU {signed[-1][2]:.2f} s)")
            # The installer's own CPU time moves less with the machine's load than the clock.
            for what, index in (("time", 0), ("installer CPU", 2)):
                a = statistics.median(run[index] for run in plain)
                b = statistics.median(run[index] for run in signed)
                print(f"median {what}: unsigned {a:.2f} s, signed {b:.2f} s, ratio {b / a:.3f}"
                      " (goal <= 1.10)")
            return

        warm, _, _ = install("warm-up")
        print(f"warm-up installation (the server prepares its frames): {warm:.2f} s")
        installer_time, peak, _ = install("program")

        archive_folder = os.path.join(work, "www")
        os.makedirs(archive_folder)
        subprocess.run(["tar", "-cjf", os.path.join(archive_folder, "package.tar.bz2"), "-C", package, "."],
                       check=True)
        http_port = free_port()
        processes.append(start([sys.executable, "-m", "http.server", str(http_port), "--bind",
                                "127.0.0.1", "--directory", archive_folder], log))
        wait_port("127.0.0.1", http_port)
        target = os.path.join(work, "tar-target")
        os.makedirs(target)
        began = time.monotonic()
        subprocess.run(f"curl -sS http://127.0.0.1:{http_port}/package.tar.bz2 | tar -xjf - -C {target}",
                       shell=True, check=True)
        tar_time = time.monotonic() - began

        print(f"quorvane-setup (fresh folder, through danted): {installer_time:.2f} s")
        print(f"curl | tar -xj of the same files as .tar.bz2:  {tar_time:.2f} s")
        print(f"ratio installer / tar pipeline: {installer_time / tar_time:.2f} (goal <= 1.0)")
        print(f"installer peak memory: {peak / 1e6:.1f} MB = {peak / largest:.2f} x the largest file"
              f" (goal <= 2.5)")
    finally:
        for process in processes:
            process.terminate()
        for process in processes:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
        if options.keep:
            print(f"work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
