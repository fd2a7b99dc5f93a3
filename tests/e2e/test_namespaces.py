"""The built stopex on Linux where containers and sandboxes run it: PID
namespaces with and without a /proc of their own, a system-call filter that
refuses process descriptors, a process whose first thread has ended, and no
process list at all. Each case runs in a PID namespace that the test makes,
whose first process the test started: killing it ends everything in there.
Run as a script (CASE NAME [inner]), this file is the part of a case that
runs inside the namespaces."""

import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

from harness import SLEEPER, STOPEX, Sleepers, TestCase, killed, run, state, unique

HERE = os.path.abspath(__file__)
with open(STOPEX, "rb") as program:
    SANITIZED = b"libasan" in program.read()  # linked against the sanitizer runtime


def inside(*command, env=None):
    """Runs the inner part of this case under the command, which makes a
    namespace, and hands back what it found there."""
    result = subprocess.run([*command, sys.executable, HERE, sys.argv[1], sys.argv[2], "inner"],
                            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, check=True, timeout=120,
                            env={**os.environ, **(env or {})})
    return json.loads(result.stdout)


def set_next_pid(pid):
    """The next process made in the calling process's namespace gets pid."""
    with open("/proc/sys/kernel/ns_last_pid", "w") as file:
        file.write(str(pid - 1))


def outcomes(*results):
    return [[r.returncode, r.stdout.decode("latin-1"), r.stderr.decode("latin-1")] for r in results]


def listed_number(pid):
    """The number /proc, of the namespace above, gives a process of this one."""
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/status") as file:
                ids = next(line.split()[1:] for line in file if line.startswith("NSpid:"))
        except (OSError, StopIteration):
            continue
        if ids == [entry, str(pid)]:
            return int(entry)
    raise AssertionError(f"/proc does not list {pid}")


# The cases, run inside: each gives what stopex did and facts that must hold.
# When stopex has said "Killed." and returned, the process has ended already:
# killed() is given no time to wait.
def init_alone(name, stage):
    return outcomes(run([name])), {"init runs": state(1) != b"Z"}


def init_beside_another(name, stage):
    with Sleepers() as sleepers:
        other = sleepers.start(name)
        return outcomes(run([name])), {"init runs": state(1) != b"Z", "other killed": killed(other, 0)}


def outside(name, stage):
    """A match outside a namespace that has no /proc of its own, and a
    bystander in there that holds the number /proc lists it under."""
    with Sleepers() as sleepers:
        if stage == "outer":
            victim = sleepers.start(name)
            found = inside("unshare", "--pid", "--fork", env={"STOPEX_LISTED": str(victim.pid)})
            return found[0], {**found[1], "victim runs": victim.poll() is None}
        listed = int(os.environ["STOPEX_LISTED"])
        set_next_pid(listed)
        bystander = sleepers.start(unique("by"))
        return outcomes(run([name])), {"collision made": bystander.pid == listed,
                                       "bystander runs": bystander.poll() is None}


def within(name, stage):
    """A match inside a namespace that has no /proc of its own, and a
    bystander in there whose number is the one /proc lists the match under."""
    if stage == "outer":
        set_next_pid(5000)  # outer numbers far above the inner ones
        return inside("unshare", "--pid", "--fork")
    with Sleepers() as sleepers:
        victim = sleepers.start(name)
        listed = listed_number(victim.pid)
        set_next_pid(listed)
        bystander = sleepers.start(unique("by"))
        return outcomes(run([name])), {"collision made": bystander.pid == listed, "victim killed": killed(victim, 0),
                                       "bystander runs": bystander.poll() is None}


def crowded(name, stage):
    """A match with hundreds of supplementary groups in a namespace without a
    /proc of its own: its status file runs past a page, and a read cut at
    4,096 bytes would end inside its NSpid line. A bystander holds the number
    such a read would give. Then stopex itself has as many groups."""
    if stage == "outer":
        set_next_pid(5000)
        # The leak checker looks for the program's threads in /proc under its
        # number here, which /proc gives another process, or none.
        return inside("unshare", "--pid", "--fork", env={"ASAN_OPTIONS": "detect_leaks=0"} if SANITIZED else {})
    with Sleepers() as sleepers:
        path = sleepers.copy(name)
        groups = list(range(10000, 10700))

        def start():
            """The process, and its status file once it sleeps: the state's
            words are part of the length."""
            set_next_pid(230)
            process = subprocess.Popen([path], extra_groups=groups, stdin=subprocess.DEVNULL)
            sleepers.processes.append(process)
            listed = listed_number(process.pid)
            deadline = time.monotonic() + 60  # only keeps a fault from hanging the test
            while state(listed) != b"S":
                assert time.monotonic() < deadline, "the process did not fall asleep"
                time.sleep(0.01)
            with open(f"/proc/{listed}/status", "rb") as file:
                return process, file.read()

        # Groups of four digits rather than five move the line a byte each.
        for _ in range(4):
            victim, status = start()
            line = status.index(b"\nNSpid:")
            shift = status.rindex(b"\t", line, status.index(b"\n", line + 1)) + 1 - (4096 - 1)
            if shift == 0:
                break
            victim.kill()
            victim.wait()
            del groups[len(groups) - max(shift, 0) // 6:]
            groups[:max(shift, 0) % 6] = range(1000, 1000 + max(shift, 0) % 6)
            groups += range(20000, 20000 - min(shift, 0) // 6 + 1) if shift < 0 else []
        assert shift == 0, "the line could not be placed at the cut"
        cut = int(status[:4096].rsplit(b"\t", 1)[1])
        set_next_pid(cut)
        bystander = sleepers.start(unique("by"))
        first = run([name])
        second_victim, _ = start()
        second = run([name], wrapper=["setpriv", "--groups", ",".join(map(str, groups)), "--"])
        return outcomes(first, second), {"collision made": bystander.pid == cut, "victim killed": killed(victim, 0),
                                         "bystander runs": bystander.poll() is None,
                                         "second killed": killed(second_victim, 0)}


def filtered(name, stage):
    """pidfd_open, or pidfd_send_signal, refused by a system-call filter, with
    EPERM, or with what would say the process had gone (ESRCH) or that no
    descriptor was left (EMFILE): a signal 0 by number finds it, and it is
    taken by its number instead."""
    with Sleepers() as sleepers:
        found, victims = [], []
        for option in [], ["-s"], ["-p=3"], ["-s=3"], ["-s=24"]:
            victims.append(sleepers.start(name))
            found.append(run([name], wrapper=[os.environ["STOPEX_NO_PIDFD"], *option]))
        return outcomes(*found), {"victims killed": all(killed(victim, 0) for victim in victims)}


def threads(name, stage):
    """A process whose first thread has ended, beside a true zombie."""
    with Sleepers() as sleepers:
        victim = sleepers.start(name, args=["-p"])
        parent = sleepers.start(unique("zp"), args=["-z", name])

        def zombie():
            with open(f"/proc/{parent.pid}/task/{parent.pid}/children") as file:
                children = file.read().split()
            return int(children[0]) if children and state(children[0]) == b"Z" else 0

        deadline = time.monotonic() + 60  # only keeps a fault from hanging the test
        while not (zombie() and state(victim.pid) == b"Z"):
            assert time.monotonic() < deadline, "the processes did not get ready"
            time.sleep(0.02)
        names = run([]).stdout.split(b"\n")
        found = outcomes(run([name, "-t"]), run([name]))
        return found, {"listed once": names.count(name.encode()) == 1, "victim killed": killed(victim, 0),
                       "zombie stays": state(zombie()) == b"Z"}


def covered(name, stage):
    """A process's stat file covered (a bind mount) by a text that names the
    target, then by a FIFO, then its folder by an empty one: what /proc itself
    says of that number is not what is read there, a FIFO is never waited on,
    and a file missing below a cover is no sign that the process has gone. With openat2, and with it
    refused by a filter (EPERM, ENOSYS), so that each file is looked at first."""
    with Sleepers() as sleepers:
        other = unique("cv")
        victim = sleepers.start(other, wait_for=lambda: state(sleepers.processes[-1].pid) == b"S")
        path, text, fifo = f"/proc/{victim.pid}/stat", *(os.path.join(sleepers.folder, f) for f in ("stat", "fifo"))
        with open(path, "rb") as real, open(text, "wb") as fake:
            fake.write(real.read().replace(other.encode(), name.encode()))
        os.mkfifo(fifo)
        empty = os.path.join(sleepers.folder, "empty")
        os.mkdir(empty)
        found = []
        for cover, path in (text, path), (fifo, path), (empty, os.path.dirname(path)):
            subprocess.run(["mount", "--bind", cover, path], check=True)
            try:
                for option in [], ["-o"], ["-n"]:
                    wrapper = [os.environ["STOPEX_NO_PIDFD"], *option] if option else ()
                    found += outcomes(run([name, "-t"], wrapper=wrapper), run([name], wrapper=wrapper))
            finally:
                subprocess.run(["umount", path], check=True)
        return found, {"victim runs": victim.poll() is None}


def elsewhere(name, stage):
    """A program whose own file's name ends in " (deleted)", run from a folder
    that only its own mount namespace sees: whether the path the kernel gives
    names the program is asked where the program sees it."""
    long = name + "-averyverylongname"
    with Sleepers() as sleepers:
        folder = tempfile.mkdtemp(dir=sleepers.folder)
        start = 'mount -t tmpfs none "$1" && cp "$2" "$1/$3 (deleted)" && exec -a x "$1/$3 (deleted)"'
        process = subprocess.Popen(["unshare", "--mount", "bash", "-c", start, "bash", folder, SLEEPER, long],
                                   stdin=subprocess.DEVNULL)
        sleepers.processes.append(process)
        deadline = time.monotonic() + 60  # only keeps a fault from hanging the test
        while state(process.pid) != b"S" or not os.readlink(f"/proc/{process.pid}/exe").endswith(" (deleted)"):
            assert time.monotonic() < deadline, "the program did not start"
            time.sleep(0.01)
        return outcomes(run([long]), run([long + " (deleted)", "-t"])), {"it runs": process.poll() is None}


def no_proc(name, stage):
    """An empty file system in place of /proc, in a mount namespace of its own."""
    if stage == "outer":
        return inside("unshare", "--mount", "sh", "-c", 'mount -t tmpfs none /proc && exec "$@"', "sh")
    return outcomes(run([]), run([name, "-t"]), run([name, "-ts"]), run([name])), {}


REFUSED = "TerminateProcess() failed, err = 5\n"
NO_LIST = "stopex: cannot list the processes: /proc is not a proc file system\n"
COVERED = "stopex: 1 process could not be read: Invalid cross-device link\n"
# Each case, whether the namespace's first process bears the target's name,
# and the status, standard output and standard error of each run of stopex.
CASES = [
    (init_alone, True, lambda n: [[1, REFUSED, ""]]),
    (init_beside_another, True, lambda n: [[0, REFUSED + n.upper() + " Killed.", ""]]),
    (outside, False, lambda n: [[1, "OpenProcess() failed, err = 87\n", ""]]),
    (within, False, lambda n: [[0, n.upper() + " Killed.", ""]]),
    (crowded, False, lambda n: [[0, n.upper() + " Killed.", ""]] * 2),
    (filtered, False, lambda n: [[0, n.upper() + " Killed.", ""]] * 5),
    (threads, False, lambda n: [[0, n.upper() + " was running ", ""], [0, n.upper() + " Killed.", ""]]),
    (covered, False, lambda n: [[1, n.upper() + " wasn't running ", COVERED], [1, "", COVERED]] * 9),
    (no_proc, False, lambda n: [[1, "", NO_LIST]] * 4),
    (elsewhere, False, lambda n: [[1, "", ""], [0, n.upper() + "-AVERYVERYLONGNAME (DELETED) was running ", ""]]),
]


def namespaces_work():
    try:
        return subprocess.run(["unshare", "--pid", "--fork", "--mount-proc", "true"], stderr=subprocess.DEVNULL,
                              timeout=30).returncode == 0
    except OSError:
        return False


class Namespaces(TestCase):
    @unittest.skipUnless(namespaces_work(), "the kernel refuses new PID namespaces here (they need root)")
    def test_each_case(self):
        for case, init_named, expected in CASES:
            name = unique()
            with self.subTest(case.__name__), Sleepers() as sleepers:
                if case is no_proc and SANITIZED:
                    self.skipTest("the sanitizer runtime itself needs /proc")
                # The namespace's first process, which unshare ends with itself.
                init_name = name if init_named else unique("init")
                maker = subprocess.Popen(["unshare", "--pid", "--fork", "--mount-proc", "--kill-child",
                                          sleepers.copy(init_name)], stdin=subprocess.DEVNULL)
                sleepers.processes.append(maker)
                init = self.first_child(maker.pid, init_name)
                found = json.loads(subprocess.run(
                    ["nsenter", "-t", str(init), "-p", "-m", sys.executable, HERE, case.__name__, name],
                    stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, check=True, timeout=300).stdout)
                self.assertEqual(found[0], expected(name))
                self.assertEqual(found[1], dict.fromkeys(found[1], True))

    @staticmethod
    def first_child(pid, name):
        """The child of pid, once it runs the program named name."""
        deadline = time.monotonic() + 60  # only keeps a fault from hanging the test
        while time.monotonic() < deadline:
            with open(f"/proc/{pid}/task/{pid}/children") as file:
                children = file.read().split()
            if children:
                with open(f"/proc/{children[0]}/comm") as file:
                    if file.read().strip() == name[:15]:
                        return int(children[0])
            time.sleep(0.02)
        raise AssertionError("the namespace's first process did not start")


if __name__ == "__main__":
    result = globals()[sys.argv[1]](sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else "outer")
    json.dump(result, sys.stdout)
