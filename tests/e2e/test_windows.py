"""The built stopex.exe under Wine: the real Windows backend end to end."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import (CRLF_USAGE, EMULATOR, LAUNCHER, STOPEX, Sleepers, TestCase, launched, listed, run, run_raw,
                     run_unicode, unique)

REFUSED = re.compile(rb"stopex: an argument cannot be written in this system's code page \(\d+\)\r\n")


def fullwidth(text):
    """The text in fullwidth letters and digits, which the western code
    pages render as the plain ones."""
    return "".join(chr(ord(c) + 0xFEE0) if c.isascii() and c.isalnum() else c for c in text)


def left_alone(*names):
    """What kill mode writes on standard error for each process it passes over."""
    return re.compile(b"".join(rb"stopex: process \d+ left alone: its name only resembles " + re.escape(name) +
                               b"\r\n" for name in names) + b"$")


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
        self.assertIn(b"\r\nservices.exe\r\n", b"\r\n" + run(["-", "/"]).stdout)  # "-" or "/" alone: ignored

    def test_usage_errors(self):
        for args in (["?"], ["-x"], ["a", "b"], ["/t", "x.exe", "-t"], ["/usr/x.exe"]):
            with self.subTest(args=args):
                self.assertRun(run(args), 7, b"", CRLF_USAGE)

    def test_finds_and_kills_a_program_by_name(self):
        name = unique("victim") + ".exe"
        upper = name.upper().encode()
        with Sleepers() as sleepers:
            sleepers.start(name, wait_for=lambda: name.encode() in listed())
            self.assertRun(run([name, "-t"]), 0, upper + b" was running ")
            self.assertRun(run(["/t", name]), 0, upper + b" was running ")  # "/" introduces switches here
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
        status, out = launched(result)
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


class OutputFailures(TestCase):
    """Standard output that takes nothing: a file opened for reading only (as
    a full disk would refuse every write), or none at all. The failure is said
    on standard error; a list fails, the test and kill answers stand."""

    def test_every_mode_says_so_and_keeps_its_answer(self):
        name = unique("out") + ".exe"
        with Sleepers() as sleepers, tempfile.NamedTemporaryFile() as readonly:
            victim = sleepers.start(name, wait_for=lambda: name.encode() in listed())
            for how in ("readonly:Z:" + readonly.name.replace("/", "\\"), "closed"):
                with self.subTest(how=how):
                    os.environ["STOPEX_CHILD_STDOUT"] = how
                    try:
                        for tail, status in ((b"", 1), (name.encode() + b" -t", 0), (b"x" + name.encode() + b" -t", 1)):
                            result = run_raw(tail)
                            self.assertEqual(launched(result), (status, b""), tail)
                            self.assertRegex(result.stderr, rb"^stopex: cannot write standard output: [^\r\n]+\r\n$")
                    finally:
                        del os.environ["STOPEX_CHILD_STDOUT"]
            os.environ["STOPEX_CHILD_STDOUT"] = "closed"
            try:
                result = run_raw(name.encode())
            finally:
                del os.environ["STOPEX_CHILD_STDOUT"]
            self.assertEqual(launched(result), (0, b""))  # terminated: the answer stands
            self.assertRegex(result.stderr, rb"^stopex: cannot write standard output: [^\r\n]+\r\n$")
            self.assertNotIn(name.encode(), listed())
            self.assertEqual(victim.wait(timeout=30), 0)


class LookAlikes(TestCase):
    """Processes whose names the western code page cannot hold: the snapshot
    lists a best-fit look-alike (a fullwidth letter as the plain one, A with
    macron as A), which never passes for the name asked for."""

    def test_a_lookalike_alone_is_neither_found_nor_terminated(self):
        tag = unique("la")
        for lookalike, rendered in ((fullwidth(tag) + ".exe", tag + ".exe"), ("Ā" + tag + ".exe", "A" + tag + ".exe")):
            with self.subTest(name=lookalike), Sleepers() as sleepers:
                victim = sleepers.start(lookalike, wait_for=lambda: rendered.encode() in listed())
                upper = rendered.upper().encode()
                self.assertRun(run([rendered, "-t"]), 1, upper + b" wasn't running ")
                result = run([rendered])
                self.assertEqual((result.returncode, result.stdout), (1, b""))
                self.assertRegex(result.stderr, left_alone(upper))
                self.assertIsNone(victim.poll())

    def test_only_the_real_process_beside_a_lookalike_is_terminated(self):
        tag = unique("lb")
        real = tag + ".exe"
        with Sleepers() as sleepers:
            lookalike = sleepers.start(fullwidth(tag) + ".exe")
            victim = sleepers.start(real, wait_for=lambda: listed().count(real.encode()) == 2)
            result = run([real])
            self.assertEqual((result.returncode, result.stdout), (0, real.upper().encode() + b" Killed."))
            self.assertRegex(result.stderr, left_alone(real.upper().encode()))
            self.assertEqual(victim.poll(), 0)  # the Linux-side launcher of a terminated program
            self.assertIsNone(lookalike.poll())
            self.assertRun(run([real, "-t"]), 1, real.upper().encode() + b" wasn't running ")

    def test_a_lookalike_target_is_refused_before_anything_is_done(self):
        real = unique("lc") + ".exe"
        with Sleepers() as sleepers:
            victim = sleepers.start(real, wait_for=lambda: real.encode() in listed())
            for tail in (fullwidth(real), fullwidth(real) + " -t", "-ts C:\\Tools\\" + fullwidth(real)):
                with self.subTest(tail=tail):
                    result = run_unicode(tail)
                    self.assertEqual(launched(result), (7, b""))
                    self.assertRegex(result.stderr, REFUSED)
            # Wine hands the Linux-side arguments over as a Unicode command line too.
            result = run([fullwidth(real)])
            self.assertEqual((result.returncode, result.stdout), (7, b""))
            self.assertRegex(result.stderr, REFUSED)
            self.assertIsNone(victim.poll())

    def test_names_the_code_page_holds_and_a_lookalike_program_path_work_as_before(self):
        name = "café" + unique("ld") + ".exe"
        encoded, upper = name.encode("cp1252"), name.upper().encode("cp1252")
        with Sleepers() as sleepers:
            sleepers.start(name, wait_for=lambda: encoded in listed())
            folder = os.path.join(sleepers.folder, fullwidth("Tools"))
            os.makedirs(folder)
            program = shutil.copy(STOPEX, os.path.join(folder, fullwidth("stopex") + ".exe"))
            self.assertRun(run([name, "-t"]), 0, upper + b" was running ")
            self.assertRun(run([name, "-t"], program=program), 0, upper + b" was running ")
            self.assertEqual(launched(run_unicode(name + " -t", program=program)), (0, upper + b" was running "))
            self.assertRun(run([name], program=program), 0, upper + b" Killed.")


GUARD_PROBE = os.environ.get("STOPEX_GUARD_PROBE", "")
# The guard of a run that did not start at the product's entry point, in 64
# and 32 bits (src/platform/windows/stack_guard.cpp).
UNSEEDED = (0x5EC0A1D3F00DB175, 0xF00DB175)


@unittest.skipUnless(GUARD_PROBE, "built without hardening: no guard probe")
class StackProtector(TestCase):
    def test_the_guard_is_seeded_anew_for_each_run(self):
        guards = []
        for _ in range(3):
            result = run([], program=GUARD_PROBE)
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            guards.append(int(result.stdout, 16))
        self.assertEqual(len(set(guards)), 3, [hex(guard) for guard in guards])
        for guard in guards:
            self.assertNotIn(guard, UNSEEDED + (0,))

    def test_an_overrun_ends_the_run_at_once_without_a_word(self):
        result = run([GUARD_PROBE, "overrun"], program=LAUNCHER)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.stdout, b"exit code 3221226505\r\n")  # STATUS_STACK_BUFFER_OVERRUN


if __name__ == "__main__":
    unittest.main()
