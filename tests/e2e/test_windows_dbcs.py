"""The built stopex.exe under Wine in a double-byte ANSI code page (932, 936
or 950, from STOPEX_CODE_PAGE; Wine takes it from the locale). Many
characters there end in 0x5C, the byte of "\\": such a process must never be
taken for another one's, nor another one's for it."""

import os
import unittest

from harness import CRLF_USAGE, Sleepers, TestCase, listed, run, run_raw, unique

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


if __name__ == "__main__":
    unittest.main()
