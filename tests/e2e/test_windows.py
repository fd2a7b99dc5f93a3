"""The built stopex.exe under Wine: the real Windows backend end to end."""

import os
import subprocess
import unittest

from harness import CRLF_USAGE, EMULATOR, LAUNCHER, STOPEX, Sleepers, TestCase, listed, run, run_raw, unique


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
            # Killed means ended: gone from the list as soon as the program returns.
            self.assertNotIn(name.encode(), listed())
            self.assertRun(run([name]), 1)

    def test_killing_itself_ends_with_all_bits_set(self):
        name = unique("self") + ".exe"
        with Sleepers() as sleepers:
            sleepers.start(name, wait_for=lambda: name.encode() in listed())
            program = sleepers.copy(name, STOPEX)
            result = run([program, name], program=LAUNCHER)
            self.assertEqual(result.stderr, b"")
            self.assertEqual(result.stdout, name.upper().encode() + b" Killed.exit code 4294967295\r\n")


    def test_carries_the_projects_version(self):
        version = os.environ["STOPEX_VERSION"]
        result = run([STOPEX], program=os.environ["STOPEX_VERSION_READER"])
        self.assertRun(result, 0, f"{version}.0\r\n{version}\r\nstopex\r\n".encode())


class HostileCommandLines(TestCase):
    """Raw command lines, bytes exactly as they stand, through the launcher."""

    def raw(self, tail):
        """Runs stopex with the raw command line tail; returns its exit code
        and its output, the usage text (on standard error) checked on the way."""
        result = run_raw(tail)
        out, _, code = result.stdout.rpartition(b"exit code ")
        status = int(code.strip())
        self.assertEqual(result.stderr, CRLF_USAGE if status == 7 else b"")
        return status, out

    def test_quotes_lengths_and_counts(self):
        cases = [
            (b'-t "unclosed piece', 1, b"UNCLOSED PIECE wasn't running "),
            (b'-t x "', 7, b""),                         # the lone quote is a second, empty target
            (b'-t ""', 1, b" wasn't running "),
            (b'-t a\\"b', 1, b'A"B wasn\'t running '),
            (b"-t C:\\dir\\", 1, b" wasn't running "),
            (b"-t " + b"a" * 32000, 1, b"A" * 255 + b" wasn't running "),
            (b"-t " * 9000 + b"x.exe", 1, b"X.EXE wasn't running "),
            (b"a " * 9000, 7, b""),
            (b"-t\t\tx.exe\t", 1, b"X.EXE wasn't running "),
        ]
        for tail, status, out in cases:
            with self.subTest(tail=tail[:40]):
                self.assertEqual(self.raw(tail), (status, out))

    def test_every_byte_value(self):
        ordinary = bytes(b for b in range(1, 256) if b not in b' \t"?')
        status, out = self.raw(b"-t " + ordinary)
        self.assertEqual(status, 1)
        self.assertTrue(out.endswith(b" wasn't running "))
        for value in b' \t"?\x81\xff':
            with self.subTest(byte=value):
                status, out = self.raw(b"-t x" + bytes([value]) + b"y")
                # A blank or tab makes two targets; "?" asks for the usage.
                self.assertEqual(status, 7 if value in b' \t?' else 1)


if __name__ == "__main__":
    unittest.main()
