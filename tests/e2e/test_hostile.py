"""The built stopex on Linux against hostile command lines: it ends with
status 0, 1 or 7 as the rules say, prints only what they say, and never
crashes. Only test mode is used with odd targets, so nothing is terminated."""

import os
import unittest

from harness import USAGE, TestCase, run

# The longest single argument Linux passes to a program (MAX_ARG_STRLEN less
# the terminator).
LONGEST_ARGUMENT = 32 * os.sysconf("SC_PAGE_SIZE") - 1


class HostileCommandLines(TestCase):
    def test_the_longest_argument(self):
        self.assertRun(run(["a" * LONGEST_ARGUMENT, "-t"]), 1, b"A" * LONGEST_ARGUMENT + b" wasn't running ")
        self.assertRun(run(["a\\" * (LONGEST_ARGUMENT // 2), "-ts"]), 1)
        self.assertRun(run(["a" * LONGEST_ARGUMENT, "?"]), 7, b"", USAGE)

    def test_ten_thousand_arguments(self):
        self.assertRun(run(["-t"] * 9999 + ["x.exe"]), 1, b"X.EXE wasn't running ")
        result = run(["-"] * 10000)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertRun(run(["a"] * 10000), 7, b"", USAGE)

    def test_every_byte_value_in_a_target(self):
        for value in range(1, 256):
            target = b"x" + bytes([value]) + b"y"
            with self.subTest(byte=value):
                result = run([target, b"-t"])
                if value == ord("?"):
                    self.assertRun(result, 7, b"", USAGE)
                else:
                    self.assertIn(result.returncode, (0, 1))
                    self.assertEqual(result.stderr, b"")
                    self.assertTrue(result.stdout.endswith(b" running "))
                    self.assertLessEqual(len(result.stdout), len(target) + len(b" wasn't running "))
        every = bytes(b for b in range(1, 256) if b != ord("?"))
        result = run([every, b"-t"])
        self.assertIn(result.returncode, (0, 1))
        self.assertEqual(result.stderr, b"")

    def test_quotes_and_lead_bytes_pass_through_unchanged(self):
        # The shell has split these already: quotes and lone lead bytes are
        # ordinary bytes of the target.
        for target in [b'"', b'"x.exe', b'x"', b"\x81", b"x\x81", b"\x81\\", b"\\\"", b"\xff\xfe"]:
            with self.subTest(target=target):
                result = run([target, b"-t"])
                self.assertEqual((result.returncode, result.stderr), (1, b""))
                self.assertTrue(result.stdout.endswith(b" wasn't running "))


if __name__ == "__main__":
    unittest.main()
