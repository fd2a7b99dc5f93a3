"""The built stopex on Linux: list mode and the usage text."""

import collections
import os
import unittest

from harness import USAGE, Sleepers, TestCase, as_itself, run, show, unique


def running_processes():
    """Every process /proc shows that has not ended, kernel threads aside
    (their workers rename themselves as they take up work): its id mapped to
    its start time and its name as the kernel keeps it."""
    processes = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/stat", "rb") as file:
                line = file.read()
        except OSError:
            continue  # gone while the directory was read
        name = line[line.index(b"(") + 1:line.rindex(b")")]
        fields = line[line.rindex(b")") + 2:].split()
        kernel_thread = int(fields[6]) & 0x00200000  # PF_KTHREAD
        if fields[0] not in (b"Z", b"X") and not kernel_thread:
            processes[pid] = (fields[19], show(name))
    return processes


class ListMode(TestCase):
    @as_itself
    def test_lists_running_processes_and_itself(self):
        long_name = unique("sleeper-with-a-long-name-", 8)  # more than the kernel keeps
        with Sleepers() as sleepers:
            sleepers.start(long_name)
            before = running_processes()
            result = run([])
            after = running_processes()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stderr, b"")
        self.assertTrue(result.stdout.endswith(b"\n"))
        lines = result.stdout.split(b"\n")[:-1]
        self.assertIn(long_name.encode(), lines)
        self.assertIn(b"stopex", lines)
        # Other tests may start and end processes meanwhile; a process that
        # ran before the program started and still runs after it ended was
        # running throughout, so it must be listed, each on a line of its own.
        # (One that changed its name meanwhile is left out.) A name the
        # kernel cut at 15 bytes may be listed completed.
        throughout = [before[pid][1] for pid in before.keys() & after.keys()
                      if before[pid] == after[pid]]
        listed = collections.Counter(lines)
        for name in throughout:
            match = name if len(name) < 15 else next(
                (line for line in listed if line.startswith(name) and listed[line] > 0), name)
            self.assertGreater(listed[match], 0, name)
            listed[match] -= 1

    @as_itself
    def test_redirected_output_is_written_in_full(self):
        with open(os.devnull, "wb") as sink:
            self.assertEqual(run([], stdout=sink).returncode, 0)
        # A file is not a character device: the 512-byte buffer is written out whole at exit.
        result = run(["-"])
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"\nstopex\n", b"\n" + result.stdout)


class Usage(TestCase):
    def test_every_command_line_error_prints_the_usage_and_exits_7(self):
        cases = [["?"], ["-?"], ["/?"], ["-t?"], ["x?.exe"], ["x.exe", "a?"], ["-x"], ["-T"],
                 ["-s"], ["--t"], ["x.exe", "y.exe"], ["/t", "x.exe", "-t"], ["x.exe", "/t"],
                 ["-x", "?"], ["a", "b", "c"],
                 # A test with no target ("stopex $unset -ts") is no test on Linux.
                 ["-t"], ["-ts"], ["-t-", "-t"]]
        for args in cases:
            with self.subTest(args=args):
                self.assertRun(run(args), 7, b"", USAGE)


if __name__ == "__main__":
    unittest.main()
