#!/usr/bin/env python3
"""How long quorvane-server takes to end after SIGTERM while it prepares a
large file (reading it, serialising it or compressing it).

    bench/server_stop.py SERVER [--mib 256] [--delays 0.2,0.5,1,2,4]

Writes a package with one text file of MIB mebibytes, and for each delay
starts the server on a free 127.0.0.1 port, sends SIGTERM that many seconds
after the log says it is serving, and reports the seconds until it exits, its
peak memory, and whether the log says the preparation was abandoned. The load
average is printed first: a busy machine stretches every figure.
"""
import argparse
import os
import re
import signal
import subprocess
import tempfile
import time


def wait_for(path, text, limit):
    end = time.monotonic() + limit
    while time.monotonic() < end:
        if os.path.exists(path) and text in open(path, errors="replace").read():
            return True
        time.sleep(0.01)
    return False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("server")
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--delays", default="0.2,0.5,1,2,4")
    args = parser.parse_args()
    print("load:", open("/proc/loadavg").read().strip())
    with tempfile.TemporaryDirectory() as temp:
        package = os.path.join(temp, "package")
        os.mkdir(package)
        line = b"".join(b"word%d " % (i % 977) for i in range(200)) + b"\n"
        with open(os.path.join(package, "Big.txt"), "wb") as out:
            for _ in range((args.mib << 20) // len(line) + 1):
                out.write(line)
        for delay in [float(d) for d in args.delays.split(",")]:
            log = os.path.join(temp, "server-%s.log" % delay)
            state = os.path.join(temp, "state-%s" % delay)
            server = subprocess.Popen([args.server, "--package", package, "--listen",
                                       "127.0.0.1:0", "--state", state, "--log", log])
            if not wait_for(log, "serving", 60):
                server.kill()
                raise SystemExit("the server did not start")
            time.sleep(delay)
            with open("/proc/%d/status" % server.pid) as f:
                peak = int(re.search(r"VmHWM:\s+(\d+)", f.read()).group(1)) >> 10
            phase = "compressing" if "cache: compressing" in open(log).read() else "reading"
            sent = time.monotonic()
            server.send_signal(signal.SIGTERM)
            server.wait(timeout=600)
            took = time.monotonic() - sent
            text = open(log, errors="replace").read()
            frames = [n for n in os.listdir(state) if n.endswith(".frm")] if os.path.isdir(state) else []
            print("SIGTERM %.1f s after start (%s): exit after %.2f s, status %d, "
                  "peak so far %d MiB, abandoned %s, stored frames %d"
                  % (delay, phase, took, server.returncode, peak, "abandoned" in text,
                     len(frames)))


if __name__ == "__main__":
    main()
