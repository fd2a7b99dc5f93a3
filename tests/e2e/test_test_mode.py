"""The built stopex on Linux: test mode against real processes."""

import unittest

from harness import Sleepers, TestCase, run, unique


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
                # A directory or drive typed before the name does not matter.
                (["C:\\WINDOWS\\" + name, "-t"], 0, upper + b" was running "),
                (["C:/Tools/" + name, "-t"], 0, upper + b" was running "),
                (["C:" + name, "-t"], 0, upper + b" was running "),
                (["/usr/bin/" + name, "-t"], 0, upper + b" was running "),
                (["C:\\" + "d" * 200 + "\\" + name, "-t"], 0, upper + b" was running "),
                # A directory only, or an empty argument, names no process.
                (["C:\\dir\\", "-t"], 1, b" wasn't running "),
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
            # Only the first 255 bytes of an over-long name are looked for.
            self.assertRun(run(["y" * 600, "-t"]), 1, b"Y" * 255 + b" wasn't running ")

    def test_image_names_holding_a_backslash(self):
        name = unique("q", 4)
        with Sleepers() as sleepers:
            sleepers.start("a\\" + name)
            sleepers.start(name + "\\" + name + "\\" + name[:2])
            upper = name.upper().encode()
            # "A\NAME" ends in "\NAME": its last component is the name.
            self.assertRun(run([name, "-t"]), 0, upper + b" was running ")
            # "NAME\NAME\NA": only the first "\NA..." counts, and it is not at the end.
            self.assertRun(run([name[:2], "-t"]), 1, upper[:2] + b" wasn't running ")


if __name__ == "__main__":
    unittest.main()
