"""The completions in real shells: bash through its completion function,
zsh and fish in a terminal (tmux) as a person types. Each offers the names of
running processes from the built stopex, then -t and -ts; names that hold
shell syntax are offered quoted and never run."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import STOPEX, Sleepers, TestCase, as_itself, unique

COMPLETION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "completion")
SCRIPT = os.path.join(COMPLETION, "stopex.bash")


def complete(*words, cwd=None):
    """What bash offers for the last of the words, each offer on a line."""
    program = ('source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _stopex; '
               '((${#COMPREPLY[@]} == 0)) || printf "%s\\n" "${COMPREPLY[@]}"')
    result = subprocess.run(["bash", "--norc", "-c", program, os.path.abspath(SCRIPT), STOPEX, *words],
                            capture_output=True, check=True, cwd=cwd)
    return result.stdout.decode().splitlines()


@as_itself
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
            tag = unique("Q", 2)  # few names begin with a capital (qemu, say, would match "qe")
            name = f"{tag}$(touch ran)"  # within the 15 bytes the kernel keeps
            sleepers.start(name)
            # Other processes of the machine may begin with the tag too.
            offers = [offer for offer in complete(tag, cwd=sleepers.folder) if "touch" in offer]
            self.assertEqual(len(offers), 1, offers)
            self.assertEqual(subprocess.run(["bash", "-c", f"printf %s {offers[0]}"],
                                            capture_output=True, cwd=sleepers.folder).stdout,
                             name.encode())
            self.assertFalse(os.path.exists(witness))


class Terminal:
    """A shell in a tmux terminal of its own, with stopex on its PATH and the
    completion where the shell looks for it: keys are typed, the screen read."""

    def __init__(self, shell, folder):
        self.session = unique("stopex-term")
        bin_folder = os.path.join(folder, "bin")
        os.makedirs(bin_folder, exist_ok=True)
        os.symlink(STOPEX, os.path.join(bin_folder, "stopex"))
        env = ["env", "-i", f"HOME={folder}", "TERM=xterm", f"PATH={bin_folder}:/usr/bin:/bin"]
        if shell == "zsh":
            functions = os.path.join(folder, "zsh")
            os.makedirs(functions)
            shutil.copy(os.path.join(COMPLETION, "stopex.zsh"), os.path.join(functions, "_stopex"))
            command = env + ["zsh", "-f"]
            setup = f"fpath=({functions} $fpath); autoload -Uz compinit; compinit -u -D; PS1='%% '"
        else:
            conf = os.path.join(folder, ".config", "fish", "completions")
            os.makedirs(conf)
            shutil.copy(os.path.join(COMPLETION, "stopex.fish"), conf)
            command = env + [f"XDG_CONFIG_HOME={folder}/.config", "fish", "--no-config"]
            setup = (f"set fish_complete_path {conf} $fish_complete_path; "
                     "function fish_prompt; echo -n '% '; end; function fish_greeting; end")
        subprocess.run(["tmux", "new-session", "-d", "-s", self.session, "-x", "200", "-y", "40", "-c", folder,
                        " ".join(f"'{word}'" for word in command)], check=True)
        self.type(setup, "Enter")
        self.type("clear", "Enter")
        self.wait_for(lambda screen: screen.strip() == "%")

    def type(self, *keys):
        subprocess.run(["tmux", "send-keys", "-t", self.session, *keys], check=True)

    def screen(self):
        return subprocess.run(["tmux", "capture-pane", "-p", "-t", self.session], capture_output=True,
                              check=True).stdout.decode()

    def wait_for(self, done):
        """The screen once done(screen) holds; a shell that never gets there
        has hung, and the guard fails the test after a minute."""
        deadline = time.monotonic() + 60
        while not done(self.screen()):
            if time.monotonic() > deadline:
                raise AssertionError("the terminal shows:\n" + self.screen())
            time.sleep(0.05)
        return self.screen()

    def complete(self, line):
        """The command line after typing line and Tab, then a mark: the shell
        takes keys in order, so once the mark shows, the completion is done."""
        self.type("C-u", "C-l")
        self.wait_for(lambda screen: screen.strip() == "%")
        self.type("-l", line)
        self.type("Tab")
        self.type("-l", "@@")
        screen = self.wait_for(lambda screen: "@@" in screen.splitlines()[0])
        first = screen.splitlines()[0]
        return first[2:first.index("@@")]

    def close(self):
        subprocess.run(["tmux", "kill-session", "-t", self.session], check=False)


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
@as_itself
class TerminalCompletion(TestCase):
    """zsh and fish as a person meets them, with the completion installed."""

    def check_shell(self, shell):
        if not shutil.which(shell):
            self.skipTest(f"{shell} is not installed")
        name = unique("comp")
        with Sleepers() as sleepers:
            sleepers.start(name)
            tag = unique("Q", 2)  # few names begin with a capital (qemu, say, would match "qe")
            lure = f"{tag}$(touch ran)"  # within the 15 bytes the kernel keeps
            sleepers.start(lure)
            home = tempfile.mkdtemp(dir=sleepers.folder)
            terminal = Terminal(shell, home)
            try:
                # The one running name, completed and closed with a blank.
                self.assertEqual(terminal.complete(f"stopex {name[:-2]}"), f"stopex {name} ")
                missing = unique("none")
                self.assertEqual(terminal.complete(f"stopex {missing}"), f"stopex {missing}")  # nothing offered
                # After a name, the test switches: -t, the part they share.
                self.assertEqual(terminal.complete(f"stopex {name} "), f"stopex {name} -t")
                self.assertEqual(terminal.complete(f"stopex {name} -ts"), f"stopex {name} -ts ")
                line = terminal.complete(f"stopex {tag}")
                quoted = line[len("stopex "):].rstrip()
                self.assertNotEqual(quoted, lure)  # quoted, so that the shell takes it as it is
                printed = subprocess.run([shell, "-c", f"printf %s {quoted}"], capture_output=True,
                                         cwd=home).stdout
                self.assertEqual(printed, lure.encode())
                self.assertFalse(os.path.exists(os.path.join(home, "ran")))
            finally:
                terminal.close()

    def test_zsh(self):
        self.check_shell("zsh")

    def test_fish(self):
        self.check_shell("fish")


if __name__ == "__main__":
    unittest.main()
