"""The built stopex on Linux: list mode and the usage text."""

import os
import unittest

from harness import USAGE, Sleepers, TestCase, run, unique


class ListMode(TestCase):
    def test_lists_running_processes_and_itself(self):
        long_name = unique("sleeper-with-a-long-name-", 8)  # more than the kernel keeps
        with Sleepers() as sleepers:
            sleepers.start(long_name)
            result = run([])
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")
        self.assertTrue(result.stdout.endswith(b"\n"))
        lines = result.stdout.split(b"\n")[:-1]
        self.assertIn(long_name.encode(), lines)
        self.assertIn(b"stopex", lines)
        # One line per process: about as many as /proc holds.
        pids = [name for name in os.listdir("/proc") if name.isdigit()]
        self.assertLess(abs(len(lines) - len(pids)), 20)

    def test_redirected_output_is_written_in_full(self):
        with open(os.devnull, "wb") as sink:
            self.assertEqual(run([], stdout=sink).returncode, 0)
        # A file is not a character device: the 512-byte buffer is written out whole at exit.
        result = run(["-", "/"])
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"\nstopex\n", b"\n" + result.stdout)


class Usage(TestCase):
    def test_every_command_line_error_prints_the_usage_and_exits_7(self):
        cases = [["?"], ["-?"], ["/?"], ["-t?"], ["x?.exe"], ["x.exe", "a?"], ["-x"], ["-T"],
                 ["-s"], ["--t"], ["x.exe", "y.exe"], ["/t", "x.exe", "-t"], ["/usr/x.exe"],
                 ["-x", "?"], ["a", "b", "c"]]
        for args in cases:
            with self.subTest(args=args):
                self.assertRun(run(args), 7, b"", USAGE)


if __name__ == "__main__":
    unittest.main()
