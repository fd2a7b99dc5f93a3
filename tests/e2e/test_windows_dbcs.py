"""The built stopex.exe under Wine in a double-byte ANSI code page (932, 936
or 950, from STOPEX_CODE_PAGE; Wine takes it from the locale). Many
characters there end in 0x5C, the byte of "\\": such a process must never be
taken for another one's, nor another one's for it."""

import os
import re
import unittest

from harness import CRLF_USAGE, Sleepers, TestCase, launched, listed, run, run_raw, run_unicode, unique

CODE_PAGE = "cp" + os.environ.get("STOPEX_CODE_PAGE", "932")

# Characters whose second byte is 0x5C in each code page.
LOOKALIKES = {"cp932": ["ソ", "表"], "cp936": ["乗"], "cp950": ["功"]}[CODE_PAGE]


def encoded(text):
    return text.encode(CODE_PAGE)


class DoubleByteNames(TestCase):
    def test_a_character_ending_in_a_backslash_byte_is_no_separator(self):
        for character in LOOKALIKES:
            with self.subTest(character=character), Sleepers() as sleepers:
                tag = unique("v")
                plain, lookalike = tag + ".exe", character + tag + ".exe"
                self.assertEqual(encoded(character)[1:], b"\\")
                victim = sleepers.start(lookalike, wait_for=lambda: encoded(lookalike) in listed())
                upper = encoded(lookalike.upper())
                # Only the process that is really named so is found and killed.
                self.assertRun(run([plain, "-t"]), 1, plain.upper().encode() + b" wasn't running ")
                self.assertRun(run([plain]), 1)
                self.assertIsNone(victim.poll())
                self.assertRun(run([lookalike, "-t"]), 0, upper + b" was running ")
                self.assertRun(run(["C:\\Tools\\" + lookalike, "-ts"]), 0)
                self.assertRun(run([lookalike]), 0, upper + b" Killed.")
                self.assertNotIn(encoded(lookalike), listed())

    def test_raw_command_lines_in_the_code_pages_own_bytes(self):
        character = LOOKALIKES[0]
        with Sleepers() as sleepers:
            name = character + unique("r") + ".exe"
            sleepers.start(name, wait_for=lambda: encoded(name) in listed())
            running = encoded(name.upper()) + b" was running exit code 0\r\n"
            for tail in (encoded(name), b'"' + encoded(name) + b'"', b"C:\\" + encoded(name)):
                with self.subTest(tail=tail):
                    self.assertRun(run_raw(tail + b" -t"), 0, running)
            self.assertRun(run_raw(encoded(name) + b" -t?"), 0, b"exit code 7\r\n", CRLF_USAGE)

    @unittest.skipUnless(CODE_PAGE == "cp932", "a second byte in the range of the lower-case letters")
    def test_upper_casing_leaves_double_byte_characters_intact(self):
        name = "∥" + unique("u") + ".exe"  # 0x81 0x61: 0x61 is the byte of "a"
        self.assertEqual(encoded(name)[:2], b"\x81\x61")
        with Sleepers() as sleepers:
            sleepers.start(name, wait_for=lambda: encoded(name) in listed())
            self.assertRun(run([name, "-t"]), 0, encoded(name.upper()) + b" was running ")
            self.assertRun(run([name]), 0, encoded(name.upper()) + b" Killed.")


def left_alone(name):
    return re.compile(rb"stopex: process \d+ left alone: its name only resembles " + re.escape(name) + b"\r\n$")


def rendering(tail):
    """The one listed name that ends in tail, as the snapshot renders it."""
    names = [name for name in listed() if name.endswith(tail)]
    return names[0] if len(names) == 1 else None


# A character each code page lacks and renders by best fit as one it holds:
# e with acute as e, A with macron as a with macron.
BEST_FIT = {"cp932": "é", "cp936": "Ā", "cp950": "é"}[CODE_PAGE]


class LookAlikes(TestCase):
    """Names the code page cannot hold exactly, which the snapshot renders by
    best fit; and in 932 the yen sign, rendered as a backslash."""

    def test_the_rendering_of_a_lookalike_never_names_its_process(self):
        tag = unique("m")
        with Sleepers() as sleepers:
            victim = sleepers.start(BEST_FIT + tag + ".exe", wait_for=lambda: rendering(tag.encode() + b".exe"))
            listed_name = rendering(tag.encode() + b".exe")
            upper = listed_name.upper()  # ASCII only: the rendering holds no letter of two bytes
            self.assertEqual(launched(run_raw(listed_name + b" -t")), (1, upper + b" wasn't running "))
            result = run_raw(listed_name)
            self.assertEqual(launched(result), (1, b""))
            self.assertRegex(result.stderr, left_alone(upper))
            self.assertIsNone(victim.poll())

    @unittest.skipUnless(CODE_PAGE == "cp932", "the yen sign is best fit to the byte of \\ in 932")
    def test_a_yen_sign_rendered_as_a_backslash_is_no_separator(self):
        tag = unique("y")
        plain = tag + ".exe"
        upper = plain.upper().encode()
        with Sleepers() as sleepers:
            lookalike = sleepers.start("¥" + plain, wait_for=lambda: b"\\" + plain.encode() in listed())
            self.assertRun(run([plain, "-t"]), 1, upper + b" wasn't running ")
            real = sleepers.start(plain, wait_for=lambda: plain.encode() in listed())
            result = run([plain])
            self.assertEqual((result.returncode, result.stdout), (0, upper + b" Killed."))
            self.assertRegex(result.stderr, left_alone(upper))
            self.assertEqual(real.poll(), 0)
            self.assertIsNone(lookalike.poll())
            # Typed as the target, the yen sign is refused, and nothing is done.
            result = run_unicode("¥" + plain)
            self.assertEqual(launched(result), (7, b""))
            self.assertRegex(result.stderr, rb"stopex: an argument cannot be written in this system's code page \(932\)")
            self.assertIsNone(lookalike.poll())


if __name__ == "__main__":
    unittest.main()
