#!/usr/bin/env python3
"""Measures kill mode: the time one `stopex NAME` takes to terminate N
sleepers of that name, for each program given (say, a build from before the
wait for the terminated processes and one from after), and, beside it, the
time until the last victim has ended, seen by this script, their parent.
Each victim fills some memory first, so that its teardown takes a while.

Usage: bench/bench_kill.py [--sizes 1,50,500] [--rounds 5] [--megabytes 20]
                           LABEL=PATH [LABEL=PATH ...]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SLEEPER = os.path.join(ROOT, "build", "native", "tests", "stopex_sleeper")


def filled(process, megabytes):
    with open(f"/proc/{process.pid}/statm") as file:
        return int(file.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") >> 20 >= megabytes


def one_round(program, path, count, megabytes):
    """Seconds until the program returned, and until the last victim ended."""
    victims = [subprocess.Popen([path, "-m", str(megabytes)]) for _ in range(count)]
    try:
        for victim in victims:
            while not filled(victim, megabytes):
                time.sleep(0.01)
        start = time.perf_counter()
        subprocess.run([program, os.path.basename(path)], stdout=subprocess.DEVNULL, check=False)
        returned = time.perf_counter() - start
        for victim in victims:
            os.waitid(os.P_PID, victim.pid, os.WEXITED | os.WNOWAIT)
        ended = time.perf_counter() - start
        return returned, ended
    finally:
        for victim in victims:
            if victim.poll() is None:
                victim.kill()
            victim.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="1,50,500")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--megabytes", type=int, default=20)
    parser.add_argument("programs", nargs="+", help="LABEL=PATH")
    args = parser.parse_args()
    programs = [entry.split("=", 1) for entry in args.programs]
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "kbench-victim")
        subprocess.run(["cp", SLEEPER, path], check=True)
        print(f"| victims | program | returns after, ms | last victim ended after, ms |")
        print(f"|---:|---|---:|---:|")
        for count in map(int, args.sizes.split(",")):
            results = {label: [] for label, _ in programs}
            for _ in range(args.rounds):
                for label, program in programs:  # in turn, so that drift touches all alike
                    results[label].append(one_round(program, path, count, args.megabytes))
            for label, _ in programs:
                returned = statistics.median(r for r, _ in results[label]) * 1000
                ended = statistics.median(e for _, e in results[label]) * 1000
                print(f"| {count} | {label} | {returned:.1f} | {ended:.1f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
