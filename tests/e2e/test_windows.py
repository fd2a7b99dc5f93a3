"""The built stopex.exe under Wine: the real Windows backend end to end."""

import os
import subprocess
import time
import unittest

from harness import EMULATOR, LAUNCHER, STOPEX, USAGE, Sleepers, TestCase, run, unique

CRLF_USAGE = USAGE.replace(b"\n", b"\r\n")


def listed():
    result = run([])
    assert result.returncode == 0, result
    return result.stdout.split(b"\r\n")


def tearDownModule():
    # Whatever a test left running in the private prefix ends with its server.
    prefix = EMULATOR[1] if len(EMULATOR) > 1 else None
    if prefix:
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix), check=False)


class Windows(TestCase):
    def test_lists_wine_processes_and_itself_in_crlf_lines(self):
        result = run([])
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")
        self.assertTrue(result.stdout.endswith(b"\r\n"))
        lines = result.stdout.split(b"\r\n")[:-1]
        self.assertIn(b"services.exe", lines)
        self.assertIn(os.path.basename(STOPEX).encode(), lines)
        self.assertNotIn(b"\n", b"".join(lines))

    def test_usage_errors(self):
        for args in (["?"], ["-x"], ["a", "b"], ["/t", "x.exe", "-t"]):
            with self.subTest(args=args):
                self.assertRun(run(args), 7, b"", CRLF_USAGE)

    def test_finds_and_kills_a_program_by_name(self):
        name = unique("victim") + ".exe"
        upper = name.upper().encode()
        with Sleepers() as sleepers:
            sleepers.start(name, wait_for=lambda: name.encode() in listed())
            self.assertRun(run([name, "-t"]), 0, upper + b" was running ")
            self.assertRun(run(["C:\\Tools\\" + name.upper(), "-ts"]), 0)
            self.assertRun(run(["x" + name, "-t"]), 1, b"X" + upper + b" wasn't running ")
            # The raw command line is split by the program's own rules.
            self.assertRun(run(["C:\\My Tools\\a b.exe", "-t"]), 1, b"A B.EXE wasn't running ")
            self.assertRun(run([name]), 0, upper + b" Killed.")
            deadline = time.monotonic() + 30
            while name.encode() in listed():
                self.assertLess(time.monotonic(), deadline, "still listed after it was killed")
                time.sleep(0.2)
            self.assertRun(run([name]), 1)

    def test_killing_itself_ends_with_all_bits_set(self):
        name = unique("self") + ".exe"
        with Sleepers() as sleepers:
            sleepers.start(name, wait_for=lambda: name.encode() in listed())
            program = sleepers.copy(name, STOPEX)
            result = run([program, name], program=LAUNCHER)
            self.assertEqual(result.stderr, b"")
            self.assertEqual(result.stdout, name.upper().encode() + b" Killed.exit code 4294967295\r\n")


if __name__ == "__main__":
    unittest.main()
