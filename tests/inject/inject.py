#!/usr/bin/env python3
"""Fault injection: runs the built Linux stopex under strace, making each
system call it makes fail in turn, and checks every run against the truth.

    tests/inject/inject.py STOPEX [SLEEPER]      (as root; SLEEPER defaults to
                                                  tests/stopex_sleeper beside STOPEX)

Two workers, each the first process of a PID namespace of its own (unshare,
with its own /proc), start copies of the sleeper under crafted names: three
targets of a name longer than the kernel keeps, and bystanders named with a
prefix, a suffix, and the target's name cut at 15 bytes, and one whose stat
file a mount covers in one mode. Each mode (list, test hit and miss, kill,
kill with process descriptors refused, where processes are taken by number,
and kill of the name only the covered file gives) is first traced once
(strace -k) to learn which calls the program itself makes, and how often
(the loader's and the C library's start-up calls are not its own and are
left alone). Then each of those calls is made to fail (-e
inject=CALL:error=E:when=K or K+), and the run is checked: nothing killed
but targets, "Killed." only for a target that has ended, no answer that the
processes belie unless a failure is said, no crash, no hang. One check leans
on timing: a sleeper ends within a moment of SIGKILL, so one said to be
"still ending" after the program's 5-second wait, yet ended right after the
run, was not waited for. The runs without injection must pass the same
checks, and each injected run must show in strace's log that its fault was
made, so that a broken sandbox cannot pass."""

import collections
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# Which errors each call is made to fail with: those the kernel can give it
# there, and those a system-call filter or a security module can return for
# any call (EPERM, EIO, ENOSYS). A call not named gets those and EINVAL.
FILTER = ["EPERM", "EIO", "ENOSYS"]
OPEN = FILTER + ["ENOENT", "ESRCH", "EACCES", "ENOMEM", "EMFILE", "ENFILE", "EINTR", "EAGAIN", "EINVAL",
                 "EOPNOTSUPP"]
STAT = FILTER + ["ENOENT", "ESRCH", "EACCES", "ENOMEM", "EBADF", "EINVAL"]
ERRORS = {
    "openat": OPEN, "open": OPEN, "openat2": OPEN + ["EXDEV"],
    "read": FILTER + ["ESRCH", "EACCES", "ENOMEM", "EINTR", "EAGAIN", "EINVAL", "EBADF"],
    "getdents64": FILTER + ["ENOENT", "EACCES", "ENOMEM", "EINTR", "EINVAL", "EBADF"],
    "newfstatat": STAT, "fstat": STAT, "statx": STAT, "fstatfs": STAT, "readlink": STAT, "readlinkat": STAT,
    "pidfd_open": FILTER + ["ESRCH", "EINVAL", "EMFILE", "ENFILE", "ENOMEM", "ENODEV"],
    "pidfd_send_signal": FILTER + ["ESRCH", "EINVAL", "EBADF", "EAGAIN"],
    "kill": FILTER + ["ESRCH", "EINVAL", "EAGAIN"],
    "poll": FILTER + ["EINTR", "EINVAL", "ENOMEM", "EAGAIN"],
    "ppoll": FILTER + ["EINTR", "EINVAL", "ENOMEM", "EAGAIN"],
    "prlimit64": FILTER + ["EINVAL"], "getrlimit": FILTER + ["EINVAL"], "setrlimit": FILTER + ["EINVAL"],
    "write": FILTER + ["EAGAIN", "EINTR", "EBADF", "ENOSPC", "EPIPE", "EFBIG"],
    "close": FILTER + ["EINTR", "EBADF"],
    "dup": FILTER + ["EMFILE", "EBADF"], "fcntl": FILTER + ["EMFILE", "EBADF", "EINVAL"],
    "mmap": FILTER + ["ENOMEM", "EAGAIN"], "munmap": FILTER + ["EINVAL"],
    "getrandom": FILTER + ["EAGAIN", "EINTR"],
}
# How the runs are chosen, to stay near two minutes on two cores:
# - from the program's first call of a kind on (when=K+, K its first own
#   call), every error: what a filter refusing that call looks like;
# - once at each call in turn (when=K), SINGLE errors, taken round the list
#   from one call to the next, so that every error falls on several calls;
# - from each later call on (when=K+), one error, taken round the list too;
#   not from the last, which is the same as once at it.
# EINTR and EAGAIN from a call on too: the program tries again a few times
# at most, then says it could not. brk is left alone: the kernel
# never fails it (a refused break is the old one), and the C library takes
# an error from it for memory it has.
SINGLE = 2
NEVER_INJECTED = {"exit_group", "execve", "brk"}
# What says of a process that it has gone, which passes it over: once at a
# call, one process may so be missed; from a call on, any.
GONE = {"ENOENT", "ESRCH"}
PER_PROCESS = {"openat", "openat2", "open", "read", "readlinkat", "pidfd_open", "pidfd_send_signal", "kill"}
# A call delayed by a second, not failed: the first target ends by itself
# meanwhile, between the last look at it and its signal, and must not be
# reported Killed.
DELAY = "delay"
RACES = {"kill": [("pidfd_send_signal", DELAY, "1")], "kill-by-number": [("kill", DELAY, "1")]}
LIMIT = 10  # seconds a run may take: the program's own wait is at most 5
WORKERS = 2


def sleeper_names(tag):
    """The target's name, and the bystanders': the last one's stat file is
    covered in kill-covered mode (Sandbox.respawn)."""
    target = "ij" + tag + "targetname"  # 20 bytes: the kernel keeps 15
    return target, ["x" + target, target + "x", target[:15], "cv" + tag]


def covering_name(target):
    """The name the covered bystander's stat file gives it."""
    return "cs" + target[2:8]


class Sandbox:
    """The sleepers of a worker's namespace, whose first process it is: it
    starts them in a fixed order, so that each run sees the same /proc."""

    def __init__(self, folder, tag, index):
        self.target, self.bystanders = sleeper_names(tag)
        self.text = os.path.join(folder, f"stat{index}")
        self.folder, self.running, self.ended, self.covered = folder, {}, {}, None

    def respawn(self, short=False, covered=False):
        """Starts every sleeper afresh; with short, the first target ends by
        itself 400 ms after its start; with covered, the last bystander's
        stat file is covered by a text that names it as covering_name says."""
        if self.covered:
            # Gone with its process, if a fault had it killed.
            subprocess.run(["umount", self.covered], stderr=subprocess.DEVNULL, check=False)
            self.covered = None
        for pid in self.running:
            if pid not in self.ended:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
        self.running, self.ended = {}, {}
        for i, name in enumerate([self.target] * 3 + self.bystanders):
            path = os.path.join(self.folder, name)
            pid = os.posix_spawn(path, [path] + (["400"] if short and i == 0 else []), {})
            self.running[pid] = name
        for pid, name in self.running.items():
            while self.comm(pid) != name[:15]:
                time.sleep(0.001)
        if covered:
            # What a mount over a process's folder can make a plain open
            # read; openat2 with RESOLVE_NO_XDEV tells it.
            self.covered = f"/proc/{pid}/stat"
            with open(self.covered) as real, open(self.text, "w") as fake:
                fake.write(real.read().replace(f"({name})", f"({covering_name(self.target)})"))
            subprocess.run(["mount", "--bind", self.text, self.covered], check=True)

    @staticmethod
    def comm(pid):
        try:
            with open(f"/proc/{pid}/comm") as file:
                return file.read().strip()
        except OSError:
            return None

    def reap(self):
        """Collects every child that has ended; the sleepers' ends are kept."""
        while True:
            try:
                pid, status = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                return
            if pid == 0:
                return
            self.ended[pid] = status

    def runs(self, name):
        return [pid for pid, n in self.running.items() if n == name and pid not in self.ended]

    def killed(self, target):
        """The targets that ended by SIGKILL."""
        return [pid for pid, status in self.ended.items() if self.running.get(pid) == target
                and os.WIFSIGNALED(status) and os.WTERMSIG(status) == signal.SIGKILL]


# The modes and their arguments; kill-by-number is kill with process
# descriptors refused (pidfd_open fails with ENOSYS), so that processes are
# taken by number; kill-covered asks for the name that only a covered stat
# file gives a bystander, which must not be killed.
def modes(target):
    miss = target[:-1] + "q"
    return {"list": [], "test": [target, "-t"], "test-silent": [target, "-ts"], "miss": [miss, "-t"],
            "kill": [target], "kill-by-number": [target], "kill-covered": [covering_name(target)]}


def strace(stopex, mode, target, fault, log):
    """The command that runs the mode with the fault, (call, error, when), or
    traces its calls where call is None. strace makes a fault only in the
    calls it traces."""
    call, error, when = fault
    trace = [call] if call else []
    what = "delay_enter=1000000" if error == DELAY else f"error={error}"
    injects = [f"{call}:{what}:when={when}"] if call else []
    if mode == "kill-by-number":
        trace.append("pidfd_open")
        injects.append("pidfd_open:error=ENOSYS")
    options = ["-e", "trace=" + ",".join(trace)] if call else ["-k"]
    for inject in injects:
        options += ["-e", "inject=" + inject]
    return ["strace", "-qq", "-o", log, *options, stopex, *modes(target)[mode]]


def run(command):
    """The status (negative: the signal), standard output and error, or None
    as the status where the run outlasted its limit; the whole run's process
    group is killed then."""
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    try:
        out, err = process.communicate(timeout=LIMIT)
        return process.returncode, out.decode("latin-1"), err.decode("latin-1")
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        out, err = process.communicate()
        return None, out.decode("latin-1"), err.decode("latin-1")


FAILED = re.compile(r"(OpenProcess|TerminateProcess)\(\) failed, err = \d+\n")


def check(mode, fault, outcome, truth):
    """What is wrong with a run: a list of texts, empty when nothing is.
    fault: the call, error and when= made to fail, or Nones. truth: the
    target's name, the names every process of the namespace is listed under,
    how many targets ran before the run and after it, how many of them
    SIGKILL ended, and whether every bystander still runs."""
    call, error, when = fault
    status, out, err = outcome
    target, names, before, after, sigkilled, bystanders_run = truth
    upper = target.upper()
    lost = call == "write"  # a report may be lost, never the status
    missable = 0
    if error in GONE and call in PER_PROCESS:
        missable = len(names) if when.endswith("+") else 1
    said = [line for line in err.splitlines() if line.startswith("stopex: ")]
    ending = [line for line in said if line.endswith(" is still ending")]
    explained = len(said) > len(ending) or lost
    wrong = []
    if status is None:
        return ["hangs"]
    if status < 0:
        return [f"dies by signal {-status}"]
    if status not in (0, 1):
        wrong.append(f"exit status {status}")
    if len(said) != len(err.splitlines()):
        wrong.append("standard error holds more than stopex: lines")
    if not bystanders_run:
        wrong.append("a bystander was killed")
    if mode == "list":
        listed, every = collections.Counter(out.split("\n")[:-1]), collections.Counter(names)
        if status == 0 and (listed - every or sum((every - listed).values()) > missable):
            wrong.append("status 0 with an incomplete or wrong list")
        if status == 1 and not explained:
            wrong.append("status 1 with no reason given")
    elif mode in ("test", "test-silent", "miss"):
        name = (target if mode != "miss" else modes(target)["miss"][0]).upper()
        running = mode != "miss"
        answers = {0: [f"{name} was running "], 1: [f"{name} wasn't running ", ""]}.get(status, [])
        if mode == "test-silent":
            answers = [""]
        if out not in answers and not (lost and out == ""):
            wrong.append("unexpected standard output")
        if status == 0 and not running:
            wrong.append("status 0, but no such process runs")
        if status == 1 and running and not explained and missable < before:
            wrong.append("status 1 while a target runs, and no failure said")
        if status == 1 and running and lost:
            wrong.append("status 1 while a target runs, and only a write failed")
    else:
        killed = out.count(f"{upper} Killed.")
        failures = len(FAILED.findall(out))
        if FAILED.sub("", out).replace(f"{upper} Killed.", ""):
            wrong.append("unexpected standard output")
        # "Gone" said of a target being killed may end the wait for it early;
        # so may a record the wait could not read, where that is said.
        unseen = any(" could not be read: " in line for line in said)
        if killed > sigkilled + len(ending) + missable and not unseen:
            wrong.append("reported Killed, but not ended by SIGKILL")
        if len(ending) > after:
            # A sleeper ends within a moment of SIGKILL: one said to be
            # still ending 5 seconds on, yet ended now, was never waited for.
            wrong.append("said to be still ending, but has ended")
        if after > failures + missable and not explained:
            wrong.append(f"{after} target(s) not ended after the run, and only {failures} failure(s) reported")
        if status == 0 and not sigkilled and not missable and not unseen:
            wrong.append("status 0, but nothing was terminated")
        if status == 0 and not killed and not lost:
            wrong.append("status 0, but nothing reported Killed")
        if status == 1 and killed and "stopex: out of memory" not in said:
            wrong.append("status 1 after reporting Killed")
    return wrong


def own_calls(trace, program):
    """The calls of a trace made by the program itself (a frame in its own
    code other than _start), each as its name and its number among the calls
    of that name, the loader's included, as strace's when= counts them."""
    calls, counts, current = [], collections.Counter(), None
    frame = f" > {program}("
    for line in trace.splitlines():
        if line.startswith(" > "):
            if current and line.startswith(frame) and "(_start+" not in line:
                calls.append(current)
                current = None
            continue
        match = re.match(r"([a-z0-9_]+)\(", line)
        current = None
        if match:
            counts[match[1]] += 1
            current = (match[1], counts[match[1]])
    return calls


def plan(calls, mode):
    """The runs of a mode: (call, error, when)."""
    positions = collections.defaultdict(list)
    for name, k in calls:
        if name not in NEVER_INJECTED and not (mode == "kill-by-number" and name == "pidfd_open"):
            positions[name].append(k)
    runs = []
    if mode == "kill-covered":
        # openat2 refused once, before or after the covered file, and from
        # its first call on, as a filter or a kernel without it refuses it:
        # whichever, the covered file is never read as the process's own.
        ks = positions.get("openat2", [])
        once = [("openat2", error, str(k)) for k in ks for error in ("EPERM", "ENOSYS")]
        return once + [("openat2", error, f"{ks[0]}+") for error in ("EPERM", "ENOSYS", "EIO")][:len(ks) and 3]
    for name, ks in sorted(positions.items()):
        errors = ERRORS.get(name, FILTER + ["EINVAL"])
        runs += [(name, error, f"{ks[0]}+") for error in errors]
        for i, k in enumerate(ks):
            runs += [(name, errors[(i * SINGLE + j) % len(errors)], str(k)) for j in range(SINGLE)]
            if 0 < i < len(ks) - 1:
                runs.append((name, errors[(i + 1) % len(errors)], f"{k}+"))
    return list(dict.fromkeys(runs))


def worker(index, stopex, folder, tag):
    """Inside a PID namespace of its own, as its first process: learns each
    mode's calls, then makes every WORKERS-th run of the plan. Prints its
    findings as JSON."""
    sandbox = Sandbox(folder, tag, index)
    program = os.path.realpath(stopex)
    names = [sandbox.target] * 3 + sandbox.bystanders + [Sandbox.comm(1), "strace", "stopex"]
    log = os.path.join(folder, f"log{index}")
    found = {"runs": 0, "failures": [], "missed": [], "calls": {}}

    def one(mode, call=None, error=None, when=None):
        covered = mode == "kill-covered"
        if mode.startswith("kill") or not sandbox.running or sandbox.ended or bool(sandbox.covered) != covered:
            sandbox.respawn(short=error == DELAY, covered=covered)
        target = covering_name(sandbox.target) if covered else sandbox.target
        before = len(sandbox.runs(target))
        outcome = run(strace(stopex, mode, sandbox.target, (call, error, when), log))
        sandbox.reap()
        bystanders = all(sandbox.runs(name) for name in sandbox.bystanders)
        truth = (target, names, before, len(sandbox.runs(target)), len(sandbox.killed(target)), bystanders)
        wrong = check(mode, (call, error, when), outcome, truth)
        if call and not wrong:
            with open(log) as file:
                if not re.search(f"^{call}\\(.*\\((INJECTED|DELAYED)\\)$", file.read(), re.M):
                    found["missed"].append(f"{mode} {call}:error={error}:when={when}")
        found["runs"] += 1
        if wrong:
            found["failures"].append({"mode": mode, "call": call, "error": error, "when": when, "wrong": wrong,
                                      "status": outcome[0], "out": outcome[1], "err": outcome[2]})
        return wrong

    plans = []
    for mode in modes(sandbox.target):
        # The run that learns the calls is checked as any other: a sandbox
        # in which an undisturbed run fails cannot judge the others.
        if one(mode):
            break
        with open(log) as file:
            calls = own_calls(file.read(), program)
        if not calls:
            found["failures"].append({"mode": mode, "wrong": ["strace -k shows no call of the program's own"]})
            break
        found["calls"][mode] = collections.Counter(name for name, _ in calls)
        plans += [(mode, *step) for step in plan(calls, mode) + RACES.get(mode, [])]
    for mode, call, error, when in plans[index::WORKERS] if not found["failures"] else []:
        one(mode, call, error, when)
    json.dump(found, sys.stdout)


def checker_catches():
    """The checks themselves can fail: fabricated wrong outcomes are caught."""
    target, bystanders = sleeper_names("000000")
    names = [target] * 3 + bystanders
    upper = target.upper()
    wrong = [("list", (0, "\n".join(names[1:]) + "\n", ""), (target, names, 3, 3, 0, True)),
             ("test", (1, f"{upper} wasn't running ", ""), (target, names, 3, 3, 0, True)),
             ("miss", (0, f"{target[:-1].upper()}Q was running ", ""), (target, names, 3, 3, 0, True)),
             ("kill", (0, f"{upper} Killed." * 2, ""), (target, names, 3, 2, 1, True)),
             ("kill", (1, "", ""), (target, names, 3, 3, 0, True)),
             ("kill", (0, f"{upper} Killed." * 3, ""), (target, names, 3, 0, 3, False))]
    return all(check(mode, ("read", "EIO", "5"), outcome, truth) for mode, outcome, truth in wrong)


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "--worker":
        worker(int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5])
        return 0
    if len(sys.argv) not in (2, 3):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    stopex = os.path.abspath(sys.argv[1])
    sleeper = sys.argv[2] if len(sys.argv) == 3 else os.path.join(os.path.dirname(stopex), "tests", "stopex_sleeper")
    if os.geteuid() != 0 or not shutil.which("strace"):
        print("inject: needs root (PID namespaces) and strace (tools/deps inject)", file=sys.stderr)
        return 1
    if not checker_catches():
        print("inject: the checks pass a fabricated wrong outcome", file=sys.stderr)
        return 1
    started = time.monotonic()
    tag = os.urandom(3).hex()
    folder = tempfile.mkdtemp(prefix="stopex-inject-")
    try:
        for name in [sleeper_names(tag)[0], *sleeper_names(tag)[1]]:
            shutil.copy(sleeper, os.path.join(folder, name))
        # --kill-child: the namespace, and all in it, ends with its worker.
        workers = [subprocess.Popen(["unshare", "--pid", "--fork", "--mount-proc", "--kill-child", sys.executable,
                                     os.path.abspath(__file__), "--worker", str(i), stopex, folder, tag],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE) for i in range(WORKERS)]
        found = [json.loads(w.communicate()[0] or "{}") for w in workers]
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    runs = sum(f.get("runs", 0) for f in found)
    failures = [failure for f in found for failure in f.get("failures", [])]
    # The calls after kill mode's wait vary with the time a process takes
    # to end: a fault planned there may fall on no call. Many such runs
    # mean a sandbox whose calls are not the traced run's.
    missed = [run for f in found for run in f.get("missed", [])]
    broken = len(found) != WORKERS or any(w.returncode != 0 or not f for w, f in zip(workers, found))
    broken = broken or len(missed) > runs // 20
    print(f"inject: {runs} runs in {time.monotonic() - started:.0f} s; calls per mode, as traced: "
          + json.dumps(found[0].get("calls") if found else None))
    for failure in failures:
        print(f"FAIL {failure['mode']} {failure.get('call')}:error={failure.get('error')}:when={failure.get('when')}: "
              f"{'; '.join(failure['wrong'])}\n  status {failure.get('status')}, stdout {failure.get('out')!r}, "
              f"stderr {failure.get('err')!r}")
    print(f"inject: {len(missed)} runs made no fault, not counted: {' '.join(missed)}")
    if broken:
        print("inject: a worker failed, or too many runs made no fault", file=sys.stderr)
    print(f"{runs - len(missed) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures or broken else 0


if __name__ == "__main__":
    sys.exit(main())
