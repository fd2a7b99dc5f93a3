"""Shared helpers of the end-to-end tests: running the built stopex and
starting copies of the sleeper under crafted names, which are always
terminated again however a test ends."""

import os
import random
import re
import shutil
import signal
import string
import subprocess
import tempfile
import time
import unittest

STOPEX = os.environ["STOPEX"]
SLEEPER = os.environ["STOPEX_SLEEPER"]
LAUNCHER = os.environ.get("STOPEX_LAUNCHER", "")
EMULATOR = [part for part in os.environ.get("STOPEX_EMULATOR", "").split("|") if part]
# A Linux build for another architecture: the sleepers are this machine's own
# programs, and stopex runs as itself where the kernel knows its emulator
# (binfmt_misc), else through the emulator, under the emulator's name.
FOREIGN = os.environ.get("STOPEX_FOREIGN") == "1"
if FOREIGN:
    try:
        subprocess.run([STOPEX, "-t-"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        EMULATOR = []
    except OSError:  # an executable format this kernel cannot run
        pass
VICTIM_EMULATOR = [] if FOREIGN else EMULATOR
# For the cases that need the program's own process name, or a shell or a
# tool that starts it by itself.
as_itself = unittest.skipIf(FOREIGN and EMULATOR, "under the emulator the program bears the emulator's name, "
                            "and nothing but the emulator can start it")

USAGE = (
    b"stopex          shows the exes running.      (Mar 16 2011)\n"
    b"stopex ?        this.\n"
    b"stopex x.exe    stops x.exe; if successful, says so.\n"
    b'stopex x.exe -t "test"; if x.exe running, errorlevel 0, else 1. -ts shut-up\n'
    b"                        about it.\n"
    b"I got this from the web, don't remember where, and I guess the guy didn't want\n"
    b"to get sued when this infallibly destroys your hard drive, so he remains\n"
    b"anonymous, so I guess I will too.\n"
)

# Every name a test crafts starts with this run's own token, so that no two
# tests, and nothing else on the machine, can share a name.
_RANDOM = random.Random()


def unique(prefix="sx", length=6):
    alphabet = string.ascii_lowercase + string.digits
    return prefix + "".join(_RANDOM.choice(alphabet) for _ in range(length))


def run(args, program=STOPEX, stdout=None, timeout=120, wrapper=()):
    """Runs the program with the given arguments (behind the wrapper's
    command, when one is given) and returns the completed process, its output
    in stdout and stderr as bytes. The output goes through files rather than
    pipes: under Wine, helper processes started by the first program inherit
    its handles and would hold a pipe open."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(
            list(wrapper) + EMULATOR + [program] + list(args),
            stdout=out if stdout is None else stdout,
            stderr=err,
            stdin=subprocess.DEVNULL,
            timeout=timeout,
            check=False,
        )
        out.seek(0)
        err.seek(0)
        result.stdout = out.read() if stdout is None else None
        result.stderr = err.read()
        return result


CRLF_USAGE = USAGE.replace(b"\n", b"\r\n")


def listed():
    """The image names a Windows list run prints, one per CR LF line."""
    result = run([])
    assert result.returncode == 0, result
    return result.stdout.split(b"\r\n")


def _launch(option, line):
    with tempfile.NamedTemporaryFile(suffix=".txt") as file:
        file.write(line)
        file.flush()
        return run([option, _windows_path(file.name)], program=LAUNCHER)


def _windows_path(program):
    return "Z:" + program.replace("/", "\\")


def run_raw(tail, program=STOPEX):
    """Runs the Windows program through the launcher with the raw command
    line '"PROGRAM" ' + tail, bytes exactly as they stand. The launcher
    prints the exit code Windows reports after the program's own output."""
    return _launch("-file", b'"' + _windows_path(program).encode() + b'" ' + tail)


def run_unicode(tail, program=STOPEX):
    """The same with the Unicode command line '"PROGRAM" ' + tail (a text),
    started by CreateProcessW as a console hands it over."""
    return _launch("-wfile", ('"' + _windows_path(program) + '" ' + tail).encode())


def launched(result):
    """The exit code the launcher reported and the program's own output."""
    out, _, code = result.stdout.rpartition(b"exit code ")
    return int(code.strip()), out


class Sleepers:
    """Copies of the sleeper under crafted names; a context manager that
    terminates every copy it started, and only those."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="stopex-e2e-")
        self.processes = []

    def copy(self, name, source=SLEEPER):
        path = os.path.join(self.folder, unique("d"), name)
        os.makedirs(os.path.dirname(path))
        shutil.copy(source, path)
        os.chmod(path, 0o755)
        return path

    def start(self, name, wait_for=None, args=(), path=None):
        """Starts a copy named name (or the copy at path) with the given
        arguments. wait_for, when given, is called until it returns true, so
        that the copy is known to be running."""
        process = subprocess.Popen(
            VICTIM_EMULATOR + [path or self.copy(name)] + list(args), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(process)
        if wait_for is not None:
            deadline = time.monotonic() + 60
            while not wait_for():
                if time.monotonic() > deadline:
                    raise AssertionError(f"{name} did not start")
                time.sleep(0.1)
        return process

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
            process.wait(timeout=30)
        shutil.rmtree(self.folder, ignore_errors=True)
        return False


def wait_gone(process, seconds=10):
    """True when the process ended within the time."""
    try:
        process.wait(timeout=seconds)
        return True
    except subprocess.TimeoutExpired:
        return False


def killed(process, seconds=10):
    """True when the process ended by SIGKILL within the time; with no time,
    when it has ended already."""
    return wait_gone(process, seconds) and process.returncode == -signal.SIGKILL


def state(pid):
    """The state letter /proc gives the process ("Z" once it has ended and
    waits to be collected by its parent)."""
    with open(f"/proc/{pid}/stat", "rb") as file:
        line = file.read()
    return line[line.rindex(b")") + 2:line.rindex(b")") + 3]


# Whether the program reads names as UTF-8: where the name of the locale the
# environment gives (LC_ALL, LC_CTYPE, then LANG) says so.
_LOCALE = next((os.environ[v] for v in ("LC_ALL", "LC_CTYPE", "LANG") if os.environ.get(v)), "")
UTF8_LOCALE = re.sub("-", "", _LOCALE.partition(".")[2].partition("@")[0]).lower() == "utf8"
# The format characters a terminal shows as nothing, in every locale.
INVISIBLE = {*range(0x200B, 0x2010), *range(0x202A, 0x202F), *range(0x2060, 0x2065),
             *range(0x2066, 0x206A), 0xFEFF}


def show(name):
    """The name as the list shows it: what a terminal acts on or shows as
    nothing, and "/", as "?"; outside UTF-8, every byte 0x80 to 0x9F."""
    out, i = b"", 0
    while i < len(name):
        length = next((n for n in (2, 3, 4) if name[i] >= 0x80 and valid(name[i:i + n])), 1)
        code = ord(name[i:i + length].decode("latin-1" if length == 1 else "utf-8"))
        if not UTF8_LOCALE and code not in INVISIBLE:
            length, code = 1, name[i]
        out += b"?" if code < 0x20 or 0x7F <= code <= 0x9F or code == 0x2F or code in INVISIBLE else name[i:i + length]
        i += length
    return out


def valid(text):
    try:
        return len(text.decode()) == 1
    except UnicodeDecodeError:
        return False


class TestCase(unittest.TestCase):
    def assertRun(self, result, status, out=b"", err=b""):
        self.assertEqual((result.returncode, result.stdout, result.stderr), (status, out, err))
