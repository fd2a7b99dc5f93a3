"""The built stopex on Linux: kill mode against real processes and decoys."""

import os
import shutil
import signal
import unittest

from harness import STOPEX, Sleepers, TestCase, run, unique, wait_gone


def killed(process):
    return wait_gone(process) and process.returncode == -signal.SIGKILL


class KillMode(TestCase):
    def test_kills_every_match_and_nothing_else(self):
        name = unique()
        upper = name.upper().encode()
        with Sleepers() as sleepers:
            victims = [sleepers.start(name), sleepers.start(name)]
            decoys = [sleepers.start(name + "x"), sleepers.start(name[:-1]),
                      sleepers.start("x" + name), sleepers.start(name + ".exe")]
            result = run([name])
            self.assertRun(result, 0, upper + b" Killed." + upper + b" Killed.")
            for victim in victims:
                self.assertTrue(killed(victim))
            for decoy in decoys:
                self.assertIsNone(decoy.poll())
            # Nothing left to kill: no output, status 1.
            self.assertRun(run([name]), 1)
            self.assertRun(run([name, "-t"]), 1, upper + b" wasn't running ")

    def test_a_typed_directory_and_case_do_not_matter(self):
        name = unique("kill-me-with-a-long-name-", 6)
        with Sleepers() as sleepers:
            victim = sleepers.start(name)
            result = run(["C:\\Program Files\\" + name.upper()])
            self.assertRun(result, 0, name.upper().encode() + b" Killed.")
            self.assertTrue(killed(victim))

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root and setpriv")
    def test_a_process_the_caller_may_not_signal_is_reported_and_left_alone(self):
        name = unique()
        with Sleepers() as sleepers:
            victim = sleepers.start(name)  # owned by root
            program = sleepers.copy("stopex", STOPEX)
            os.chmod(os.path.dirname(program), 0o755)
            os.chmod(sleepers.folder, 0o755)
            result = run(["--reuid=65534", "--regid=65534", "--clear-groups", program, name],
                         program="setpriv")
            self.assertRun(result, 1, b"OpenProcess() failed, err = 5\n")
            self.assertIsNone(victim.poll())

    def test_killing_itself_comes_last_and_loses_no_report(self):
        name = unique()
        upper = name.upper().encode()
        with Sleepers() as sleepers:
            victims = [sleepers.start(name) for _ in range(3)]
            program = sleepers.copy(name, STOPEX)  # the program itself bears the name
            log = os.path.join(sleepers.folder, "log")
            with open(log, "wb") as out:
                result = run([name], program=program, stdout=out)
            self.assertEqual(result.returncode, 255)
            self.assertEqual(result.stderr, b"")
            with open(log, "rb") as written:
                self.assertEqual(written.read(), (upper + b" Killed.") * 3)
            for victim in victims:
                self.assertTrue(killed(victim))


if __name__ == "__main__":
    unittest.main()
