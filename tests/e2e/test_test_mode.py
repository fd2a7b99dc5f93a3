"""The built stopex on Linux: test mode against real processes."""

import os
import unittest

from harness import Sleepers, TestCase, run, state, unique


class TestMode(TestCase):
    def test_running_and_missing_targets(self):
        name = unique()
        upper = name.upper().encode()
        with Sleepers() as sleepers:
            sleepers.start(name)
            sleepers.start(name)
            cases = [
                ([name, "-t"], 0, upper + b" was running "),
                (["-t", name.upper()], 0, upper + b" was running "),
                (["/t", name], 7, None),  # "/t" is a target, and the name a second one
                ([name, "-ts"], 0, b""),
                ([name + "x", "-t"], 1, upper + b"X wasn't running "),
                ([name[:-1], "-t"], 1, upper[:-1] + b" wasn't running "),
                ([name + "x", "-ts"], 1, b""),
                # A directory typed before the name does not matter; on
                # Linux "\" and a drive's ":" are characters of a name.
                (["C:\\WINDOWS\\" + name, "-t"], 1, b"C:\\WINDOWS\\" + upper + b" wasn't running "),
                (["C:/Tools/" + name, "-t"], 0, upper + b" was running "),
                (["C:" + name, "-t"], 1, b"C:" + upper + b" wasn't running "),
                (["/usr/bin/" + name, "-t"], 0, upper + b" was running "),
                (["/" + "d" * 200 + "/" + name, "-t"], 0, upper + b" was running "),
                # A directory only, or an empty argument, names no process.
                (["/tmp/dir/", "-t"], 1, b" wasn't running "),
                (["", "-t"], 1, b" wasn't running "),
                (["..", "-t"], 1, b" wasn't running "),
            ]
            for args, status, out in cases:
                with self.subTest(args=args):
                    result = run(args)
                    self.assertEqual(result.returncode, status)
                    if out is not None:
                        self.assertEqual(result.stdout, out)
                        self.assertEqual(result.stderr, b"")

    def test_long_names(self):
        long_name = unique("a-sleeper-whose-name-is-long-", 8)
        with Sleepers() as sleepers:
            sleepers.start(long_name)
            self.assertRun(run([long_name, "-t"]), 0, long_name.upper().encode() + b" was running ")
            # A name longer than any file name finds nothing, and is shown whole.
            self.assertRun(run([long_name + "y" * 600, "-t"]), 1, long_name.upper().encode() + b"Y" * 600 + b" wasn't running ")
            # A process whose first thread has ended is found by its full name.
            sleepers.start(long_name + "-p", args=["-p"], wait_for=lambda: state(sleepers.processes[-1].pid) == b"Z")
            self.assertRun(run([long_name + "-p", "-t"]), 0, long_name.upper().encode() + b"-P was running ")
            # An executable deleted under one of its two names is listed by it,
            # without the kernel's mark.
            path = sleepers.copy(long_name + "-d")
            os.link(path, path + "-kept")
            sleepers.start(None, path=path, wait_for=lambda: state(sleepers.processes[-1].pid) == b"S")
            os.unlink(path)
            self.assertRun(run([long_name + "-d", "-t"]), 0, long_name.upper().encode() + b"-D was running ")

    def test_image_names_holding_a_backslash(self):
        name = unique("q", 4)
        with Sleepers() as sleepers:
            sleepers.start("a\\" + name)
            sleepers.start(name + "\\" + name + "\\" + name[:2])
            upper = name.upper().encode()
            # "a\NAME" is a name of its own, found only as a whole.
            self.assertRun(run([name, "-t"]), 1, upper + b" wasn't running ")
            self.assertRun(run(["a\\" + name, "-t"]), 0, b"A\\" + upper + b" was running ")
            # "NAME\NAME\NA" is not "NA" either.
            self.assertRun(run([name[:2], "-t"]), 1, upper[:2] + b" wasn't running ")


if __name__ == "__main__":
    unittest.main()
