"""The built stopex on Linux: kill mode against real processes and decoys."""

import os
import random
import resource
import shutil
import sys
import time
import unittest

from harness import STOPEX, UTF8_LOCALE, Sleepers, TestCase, as_itself, killed, run, show, state, unique


def resident_megabytes(process):
    with open(f"/proc/{process.pid}/statm") as file:
        return int(file.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") >> 20


# Runs a program with the descriptor limits given and COUNT descriptors
# inherited, or all the soft limit leaves but one, which the loader of a
# dynamically linked program needs to start it (all):
# LIMITED SOFT HARD COUNT PROGRAM [ARGUMENT...].
LIMITED = """import os, resource, sys
resource.setrlimit(resource.RLIMIT_NOFILE, (int(sys.argv[1]), int(sys.argv[2])))
opened = []
for _ in range(int(sys.argv[1]) if sys.argv[3] == "all" else int(sys.argv[3])):
    try:
        opened.append(os.open("/dev/null", os.O_RDONLY))
    except OSError:
        break
if sys.argv[3] == "all":
    for fd in opened[-1:]:
        os.close(fd)
    del opened[-1:]
for fd in opened:
    os.set_inheritable(fd, True)
os.execv(sys.argv[4], sys.argv[4:])
"""


def comm(process):
    with open(f"/proc/{process.pid}/comm", "rb") as file:
        return file.read()[:-1]


class KillMode(TestCase):
    def test_a_target_is_its_last_component_whole_and_reaches_only_what_is_listed_so(self):
        tag = unique("q", 4)
        # The name a process gives itself, what is typed, and whether it ends.
        cases = [("", "/tmp/", False), ("", ".", False), ("", "..", False), ("", "", False),
                 ("." + tag, ".." + tag, False), (".." + tag, ".." + tag, True),
                 (tag + "/" + tag, tag + "?" + tag, False), (tag + "\x1b", tag + "?", False),
                 (tag + "\u202e", tag + "?", False)]
        for name, target, ends in cases:
            with self.subTest(name=name, target=target), Sleepers() as sleepers:
                process = sleepers.start(tag, args=["-n", name],
                                         wait_for=lambda: sleepers.processes and comm(sleepers.processes[-1]) == name.encode())
                listed = run([]).stdout.split(b"\n")
                self.assertNotIn(name.encode(), listed if "?" in target else [])
                result = run([target])
                self.assertEqual(result.returncode, 0 if ends else (7 if "?" in target else 1))
                self.assertEqual(result.stdout, target.upper().encode() + b" Killed." if ends else b"")
                self.assertEqual(killed(process) if ends else process.poll(), True if ends else None)
        # Random names: each listed name that can be typed back finds its
        # process and terminates exactly the processes listed under it. A
        # failure names its seed; STOPEX_SEED draws the same names again.
        seed = int(os.environ.get("STOPEX_SEED", random.randrange(1 << 32)))
        draw = random.Random(seed)
        names = {tag.encode() + draw.randbytes(draw.randrange(0, 11)).replace(b"\0", b"x") for _ in range(30)}
        with self.subTest(seed=seed), Sleepers() as sleepers:
            processes = {name: sleepers.start(tag, args=[b"-n", name]) for name in names}
            for name, process in processes.items():
                while comm(process) != name:
                    time.sleep(0.01)
            listed = set(run([]).stdout.split(b"\n"))
            shown = {name: show(name) for name in names}
            self.assertLessEqual(set(shown.values()), listed)
            for target in sorted({s for s in shown.values() if b"?" not in s}, key=len, reverse=True):
                result = run([target])
                # Two names that differ only in case are one target: the
                # first of them to be typed has ended both.
                ended = {name for name in processes if shown[name].upper() == target.upper()}
                self.assertEqual(result.stdout, (target.upper() + b" Killed.") * len(ended))
                self.assertEqual(result.returncode, 0 if ended else 1)
                for name in ended:
                    self.assertTrue(killed(processes.pop(name)), name)
                self.assertTrue(all(process.poll() is None for process in processes.values()))
        # A C1 control (CSI) is shown as one "?", never written raw (outside
        # UTF-8 its second byte is CSI); so is a right-to-left override, which
        # would show "fdp.x" as "x.pdf", in every locale.
        for name, shown in ((tag + "\u009b2J", b"?2J" if UTF8_LOCALE else b"\xc2?2J"),
                            (tag + "\u202efdp.x", b"?fdp.x")):
            with self.subTest(name=name), Sleepers() as sleepers:
                sleepers.start(tag, args=["-n", name],
                               wait_for=lambda: comm(sleepers.processes[-1]) == name.encode())
                self.assertIn(tag.encode() + shown, run([]).stdout.split(b"\n"))

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

    def test_descriptors_inherited_up_to_the_limit_take_no_match_from_it(self):
        # Soft limit 1024 with 990 descriptors inherited: the limit is raised
        # towards the hard one; where they are one (root alone may lower the
        # hard limit so), the processes are held by number. With every
        # descriptor taken, even /proc is opened only once it is raised.
        hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        hard = 20000 if hard == resource.RLIM_INFINITY else min(hard, 20000)
        limits = [(1024, hard, "990"), (1024, hard, "all")] if hard > 1024 else []
        limits += [(1024, 1024, "990")] if os.geteuid() == 0 else []
        for soft, hard, count in limits:
            name = unique()
            with self.subTest(hard=hard, inherited=count), Sleepers() as sleepers:
                victims = [sleepers.start(name) for _ in range(40)]
                result = run([name], wrapper=[sys.executable, "-c", LIMITED, str(soft), str(hard), count])
                self.assertRun(result, 0, (name.upper().encode() + b" Killed.") * 40)
                for victim in victims:
                    self.assertTrue(killed(victim, 0))

    def test_returns_only_once_every_process_it_killed_has_ended(self):
        # Victims that hold much memory take a while to be torn down after
        # the signal; by the time the program returns they must have ended.
        megabytes = 300
        for _ in range(3):
            name = unique()
            with Sleepers() as sleepers:
                victims = [sleepers.start(name, args=["-m", str(megabytes)]) for _ in range(4)]
                deadline = time.monotonic() + 120  # only keeps a fault from hanging the test
                for victim in victims:
                    while resident_megabytes(victim) < megabytes:
                        self.assertIsNone(victim.poll(), "a victim ended before it was killed")
                        self.assertLess(time.monotonic(), deadline, "a victim did not fill its memory")
                        time.sleep(0.05)
                result = run([name])
                self.assertRun(result, 0, (name.upper().encode() + b" Killed.") * 4)
                self.assertEqual([state(victim.pid) for victim in victims], [b"Z"] * 4)
                for victim in victims:
                    self.assertTrue(killed(victim))

    def test_a_typed_directory_and_case_do_not_matter(self):
        name = unique("kill-me-with-a-long-name-", 6)
        with Sleepers() as sleepers:
            victim = sleepers.start(name)
            result = run(["/opt/Program Files/" + name.upper()])
            self.assertRun(result, 0, name.upper().encode() + b" Killed.")
            self.assertTrue(killed(victim))

    def test_a_full_path_names_its_last_component(self):
        # "/" begins a path on Linux, never a switch.
        name = unique()
        upper = name.upper().encode()
        with Sleepers() as sleepers:
            path = sleepers.copy(name)
            victim = sleepers.start(name, path=path)
            decoy = sleepers.start(os.path.basename(os.path.dirname(path)))  # named as its folder
            self.assertRun(run([path, "-t"]), 0, upper + b" was running ")
            self.assertRun(run([path]), 0, upper + b" Killed.")
            self.assertTrue(killed(victim))
            self.assertIsNone(decoy.poll())

    @as_itself
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

    @as_itself
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
