#!/usr/bin/env python3
"""Measures one stopex invocation against the usual tools and a floor.

Starts N sleepers under one name (always terminated afterwards), then times
each command many times, taking the commands in turn within every round so
that drift of the machine touches them all alike. Prints medians, ratios to
stopex, peak memory, and the system calls per process of a stopex run, and
what the hardening costs at start-up: the release build against the same
sources built without it (STOPEX_HARDENING=OFF), each printing its usage.

Usage: bench/bench.py [--baseline PATH] [--sizes 200,2000] [--rounds 41]
(--baseline: another stopex executable, an earlier build say, measured beside
this tree's release build)
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build(work):
    stopex = os.path.join(ROOT, "build", "release", "stopex")
    subprocess.run(["cmake", "--workflow", "--preset", "release"], cwd=ROOT, check=True,
                   stdout=subprocess.DEVNULL)
    # Beside the release build (static), the same linked against the system's
    # C library, to show what loading it costs each run.
    dynamic = os.path.join(work, "dynamic")
    subprocess.run(["cmake", "-S", ROOT, "-B", dynamic, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                    "-DSTOPEX_STATIC=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", dynamic, "-j2"], check=True, stdout=subprocess.DEVNULL)
    # And the release build as it was before it was hardened.
    plain = os.path.join(work, "plain")
    subprocess.run(["cmake", "-S", ROOT, "-B", plain, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                    "-DSTOPEX_STATIC=ON", "-DSTOPEX_HARDENING=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", plain, "-j2"], check=True, stdout=subprocess.DEVNULL)
    floor = os.path.join(work, "floor")
    subprocess.run(["cc", "-O2", "-o", floor, os.path.join(ROOT, "bench", "floor.c")], check=True)
    peak = os.path.join(work, "peak")
    subprocess.run(["cc", "-O2", "-o", peak, os.path.join(ROOT, "bench", "peak.c")], check=True)
    return stopex, os.path.join(dynamic, "stopex"), os.path.join(plain, "stopex"), floor, peak


def measure(argv):
    """Wall time in seconds and exit status of one run."""
    with open(os.devnull, "wb") as sink:
        start = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, sink.fileno(), 1),
                                           (os.POSIX_SPAWN_DUP2, sink.fileno(), 2)])
        _, status = os.waitpid(pid, 0)
        elapsed = time.perf_counter() - start
    return elapsed, os.waitstatus_to_exitcode(status)


def peak_memory(peak, argv):
    """Peak resident memory in KiB of one run."""
    result = subprocess.run([peak] + argv, stdout=subprocess.PIPE, check=True)
    return int(result.stdout)


def syscalls_per_process(argv, processes):
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run(["strace", "-c", "-f", "-o", out.name] + argv, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        lines = out.read().splitlines()
    total = next(line for line in lines if line.strip().endswith("total"))
    calls = int(total.split()[3])
    return calls, calls / processes


def run_size(count, stopex, dynamic, plain, floor, peak, rounds, work, baseline=None):
    name = "bnch" + os.urandom(3).hex()
    sleeper = os.path.join(work, name)
    shutil.copy(shutil.which("sleep"), sleeper)
    sleepers = []
    try:
        for _ in range(count):
            sleepers.append(subprocess.Popen([sleeper, "3600"], stdin=subprocess.DEVNULL))
        processes = len([p for p in os.listdir("/proc") if p.isdigit()])
        missing = "absent" + os.urandom(3).hex()
        commands = {
            "stopex NAME -t (hit)": [stopex, name, "-t"],
            "stopex NAME -t (miss)": [stopex, missing, "-t"],
            "stopex NAME -t (hit), dynamic C library": [dynamic, name, "-t"],
            "stopex (list)": [stopex],
            "stopex ? (start-up and usage)": [stopex, "?"],
            "stopex ? (start-up and usage), not hardened": [plain, "?"],
            "floor (hit)": [floor, name],
            "pgrep -x NAME": [shutil.which("pgrep"), "-x", name],
            "pidof NAME": [shutil.which("pidof"), name],
            "killall -s 0 NAME": [shutil.which("killall"), "-s", "0", name],
            "ps -e -o comm=": [shutil.which("ps"), "-e", "-o", "comm="],
        }
        if baseline:
            commands["baseline NAME -t (hit)"] = [baseline, name, "-t"]
            commands["baseline NAME -t (miss)"] = [baseline, missing, "-t"]
            commands["baseline (list)"] = [baseline]
        times = {label: [] for label in commands}
        memory = {label: max(peak_memory(peak, argv) for _ in range(3)) for label, argv in commands.items()}
        for round_ in range(rounds):
            labels = list(commands)
            shift = round_ % len(labels)
            for label in labels[shift:] + labels[:shift]:
                elapsed, code = measure(commands[label])
                times[label].append(elapsed)
                if label == "stopex NAME -t (hit)" and code != 0:
                    sys.exit(f"stopex did not find the sleepers (status {code})")
        medians = {label: statistics.median(values) for label, values in times.items()}
        base = medians["stopex NAME -t (hit)"]
        floor_time = medians["floor (hit)"]
        print(f"\n{count} sleepers, {processes} processes in all, {rounds} rounds\n")
        print("| command | median ms | × stopex -t | × floor | peak KiB |")
        print("|---|---:|---:|---:|---:|")
        for label in commands:
            print(f"| {label} | {medians[label] * 1000:.2f} | {medians[label] / base:.2f} | "
                  f"{medians[label] / floor_time:.2f} | {memory[label]} |")
        hardened, before = medians["stopex ? (start-up and usage)"], medians["stopex ? (start-up and usage), not hardened"]
        print(f"\nstart-up, hardened against not hardened: {hardened / before:.2f} × "
              f"({hardened * 1000:.2f} against {before * 1000:.2f} ms)")
        calls, per = syscalls_per_process([stopex, name, "-t"], processes)
        print(f"\nstopex NAME -t: {calls} system calls, {per:.2f} per process")
        calls, per = syscalls_per_process([stopex], processes)
        print(f"stopex (list to /dev/null, unbuffered: one write per line): {calls} system calls, {per:.2f} per process")
    finally:
        for process in sleepers:
            process.kill()
        for process in sleepers:
            process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="200,2000")
    parser.add_argument("--rounds", type=int, default=41)
    parser.add_argument("--baseline")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="stopex-bench-") as work:
        stopex, dynamic, plain, floor, peak = build(work)
        for count in (int(size) for size in args.sizes.split(",")):
            run_size(count, stopex, dynamic, plain, floor, peak, args.rounds, work, args.baseline)


if __name__ == "__main__":
    main()
