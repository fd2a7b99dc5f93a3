"""The bash completion in a real bash: names of running processes from the
built stopex, then -t and -ts; names that hold shell syntax are offered
quoted and never run."""

import os
import subprocess
import unittest

from harness import STOPEX, Sleepers, TestCase, unique

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "completion", "stopex.bash")


def complete(*words, cwd=None):
    """What bash offers for the last of the words, each offer on a line."""
    program = ('source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _stopex; '
               '((${#COMPREPLY[@]} == 0)) || printf "%s\\n" "${COMPREPLY[@]}"')
    result = subprocess.run(["bash", "--norc", "-c", program, os.path.abspath(SCRIPT), STOPEX, *words],
                            capture_output=True, check=True, cwd=cwd)
    return result.stdout.decode().splitlines()


class Completion(TestCase):
    def test_running_names_then_the_test_switches(self):
        name = unique("comp")
        with Sleepers() as sleepers:
            sleepers.start(name)
            sleepers.start(name)
            self.assertEqual(complete(name), [name])  # once, however many run
            self.assertEqual(complete(name[:-2]), [name])
            self.assertIn(name, complete("comp"))
            self.assertEqual(complete(unique("none")), [])
        self.assertEqual(complete(name, ""), ["-t", "-ts"])
        self.assertEqual(complete(name, "-ts"), ["-ts"])
        self.assertEqual(complete("-t", name, ""), ["-t", "-ts"])
        self.assertEqual(complete("-"), ["-t", "-ts"])

    def test_a_name_holding_shell_syntax_is_quoted_and_never_run(self):
        with Sleepers() as sleepers:
            witness = os.path.join(sleepers.folder, "ran")
            tag = unique("q", 1)
            name = f"{tag}$(touch ran)"  # within the 15 bytes the kernel keeps
            sleepers.start(name)
            offers = complete(tag, cwd=sleepers.folder)
            self.assertEqual(len(offers), 1, offers)
            self.assertEqual(subprocess.run(["bash", "-c", f"printf %s {offers[0]}"],
                                            capture_output=True, cwd=sleepers.folder).stdout,
                             name.encode())
            self.assertFalse(os.path.exists(witness))


if __name__ == "__main__":
    unittest.main()
