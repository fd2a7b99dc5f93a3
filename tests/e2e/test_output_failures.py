"""The built stopex on Linux when standard output takes nothing: a full
disk, a closed descriptor, a pipe whose reader has gone while SIGPIPE is
ignored. The failure is said on standard error; a list fails, while the test
and kill answers, and every termination, stand."""

import os
import signal
import subprocess
import unittest

from harness import EMULATOR, FOREIGN, STOPEX, Sleepers, TestCase, unique, wait_gone


def ignoring_sigpipe():
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)


def run_into(args, how):
    """Runs stopex with standard output that cannot be written, as named."""
    common = dict(stdin=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60, check=False)
    if how == "full disk":
        with open("/dev/full", "wb") as full:
            return subprocess.run(EMULATOR + [STOPEX] + args, stdout=full, **common)
    if how == "closed":
        # Closed in the child alone, after the fork.
        return subprocess.run(EMULATOR + [STOPEX] + args, preexec_fn=lambda: os.close(1), **common)
    read, write = os.pipe()
    os.close(read)  # the reader is gone before anything is written
    try:
        return subprocess.run(EMULATOR + [STOPEX] + args, stdout=write, preexec_fn=ignoring_sigpipe, **common)
    finally:
        os.close(write)


REASONS = {"full disk": b"No space left on device", "closed": b"Bad file descriptor", "pipe": b"Broken pipe"}


class OutputFailures(TestCase):
    def test_every_mode_says_so_and_keeps_its_answer(self):
        name = unique()
        for how, reason in REASONS.items():
            line = b"stopex: cannot write standard output: " + reason + b"\n"
            with self.subTest(how=how), Sleepers() as sleepers:
                victim = sleepers.start(name)
                result = run_into([], how)
                self.assertEqual((result.returncode, result.stderr), (1, line))
                result = run_into([name, "-t"], how)
                self.assertEqual((result.returncode, result.stderr), (0, line))
                result = run_into([name + "x", "-t"], how)
                self.assertEqual((result.returncode, result.stderr), (1, line))
                # -ts prints nothing, so nothing fails.
                result = run_into([name, "-ts"], how)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                result = run_into([name], how)
                self.assertEqual((result.returncode, result.stderr), (0, line))
                self.assertTrue(wait_gone(victim))

    def test_running_out_of_memory_is_said_and_never_answers_from_a_partial_walk(self):
        """Under ever larger address-space limits, each run either cannot be
        started at all (the loader says so, before the program runs), or
        says it ran out of memory with status 1 and prints nothing, or lists
        in full."""
        with open(STOPEX, "rb") as program:
            binary = program.read()
        if b"libasan" in binary:  # linked against the sanitizer runtime
            self.skipTest("a sanitizer build reserves far more than any such limit")
        if b"profiling:%s:Cannot open" in binary:  # gcov's counters (tools/coverage)
            self.skipTest("gcov's exit handler needs memory to write the counts, and crashes when there is none left")
        if FOREIGN:
            self.skipTest("under the emulator the address space is the emulator's")
        complete = None
        for limit in range(1 << 20, 64 << 20, 64 << 10):
            result = subprocess.run(["prlimit", f"--as={limit}", STOPEX], stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=60, check=False)
            if result.returncode == 0 and result.stderr == b"":
                complete = limit
                break
            if result.returncode == 1 and result.stderr == b"stopex: out of memory\n":
                self.assertEqual(result.stdout, b"", limit)
                continue
            # Not started: the loader gave up before the program ran.
            self.assertEqual(result.returncode, 127, (limit, result.stderr))
            self.assertEqual(result.stdout, b"", limit)
        self.assertIsNotNone(complete, "no limit up to 64 MiB let the program run")
        self.assertIn(b"stopex\n", result.stdout)

    def test_sigpipe_at_its_default_ends_the_run_as_unix_tools_do(self):
        read, write = os.pipe()
        os.close(read)
        try:
            result = subprocess.run(EMULATOR + [STOPEX], stdout=write, stderr=subprocess.PIPE, timeout=60, check=False,
                                    preexec_fn=lambda: signal.signal(signal.SIGPIPE, signal.SIG_DFL))
        finally:
            os.close(write)
        self.assertEqual((result.returncode, result.stderr), (-signal.SIGPIPE, b""))


if __name__ == "__main__":
    unittest.main()
