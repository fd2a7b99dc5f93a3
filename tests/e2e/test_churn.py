"""The built stopex on Linux against a churning process list: a few hundred
victims of one name, some ending by themselves while the program walks."""

import random
import re
import signal
import unittest

from harness import Sleepers, TestCase, run, unique, wait_gone

VICTIMS = 300


class Churn(TestCase):
    def test_every_living_victim_is_terminated_or_reported_and_nothing_else(self):
        name = unique()
        upper = name.upper().encode()
        chance = random.Random(1208)
        with Sleepers() as sleepers:
            path = sleepers.copy(name)
            decoys = [sleepers.start(name + "x"), sleepers.start(name[:-1])]
            # Two thirds wait to be terminated; the last third, started just
            # before the run, end by themselves around the time it walks.
            victims = [sleepers.start(name, path=path) for _ in range(VICTIMS * 2 // 3)]
            for _ in range(VICTIMS - len(victims)):
                delay = str(chance.randrange(0, 150))
                victims.append(sleepers.start(name, args=[delay], path=path))
            result = run([name])

            self.assertEqual(result.stderr, b"")
            self.assertIn(result.returncode, (0, 1))
            out = result.stdout
            kills = out.count(upper + b" Killed.")
            failure = rb"(OpenProcess|TerminateProcess)\(\) failed, err = (\d+)\n"
            failures = re.findall(failure, out)
            rest = re.sub(failure, b"", out.replace(upper + b" Killed.", b""))
            self.assertEqual(rest, b"", "nothing but reports and failure lines")
            # A victim that has ended by its turn is gone (87); one that is
            # ending by then cannot be terminated any more (5).
            self.assertTrue(set(failures) <= {(b"OpenProcess", b"87"), (b"TerminateProcess", b"5")},
                            failures)

            killed = ended = 0
            for victim in victims:
                # Killed, or ending by itself within 150 ms of its start: the
                # bound only keeps a fault from hanging the test.
                self.assertTrue(wait_gone(victim, 60), "a victim survived")
                if victim.returncode == -signal.SIGKILL:
                    killed += 1
                else:
                    self.assertEqual(victim.returncode, 0)
                    ended += 1
            # Every victim that died of the signal was reported. A report may
            # also stand for a victim that ended by itself after the last
            # check and before the signal arrived: no program can close that
            # window from outside (the kernel drops the signal then), so the
            # reports lie between the two counts.
            raced = kills - killed
            print(f"killed {killed}, ended by themselves {ended}, failure lines {len(failures)}, "
                  f"reports that raced with a victim's own end {raced}")
            self.assertGreaterEqual(kills, killed)
            self.assertLessEqual(kills, killed + ended)
            self.assertEqual(result.returncode, 0 if kills else 1)
            # The two thirds that wait are killed whatever the timing.
            self.assertGreaterEqual(killed, VICTIMS * 2 // 3)
            for decoy in decoys:
                self.assertIsNone(decoy.poll())


if __name__ == "__main__":
    unittest.main()
