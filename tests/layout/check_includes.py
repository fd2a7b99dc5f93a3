"""Checks that every include between the rooms of src/ points downwards:
cli may use run, match and platform; run may use match and platform; match
and platform use nothing of another room, and a backend nothing of another
backend. Prints each offending include and exits 1 when there is one."""

import pathlib
import re
import sys

# What each room may include besides itself.
ALLOWED = {
    "cli": {"run", "match", "platform"},
    "run": {"match", "platform"},
    "match": set(),
    "platform": set(),
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def room(path):
    """The room of a path below src/: its first folder, and for a backend
    the backend's folder too."""
    parts = pathlib.PurePosixPath(path).parts
    backend = parts[1] if parts[0] == "platform" and len(parts) > 2 else None
    return parts[0], backend


def offences(src):
    for file in sorted(src.rglob("*")):
        if file.suffix not in (".h", ".cpp"):
            continue
        own, own_backend = room(file.relative_to(src).as_posix())
        for included in INCLUDE.findall(file.read_text(encoding="utf-8")):
            if "/" not in included:
                continue  # a header of the same folder
            other, other_backend = room(included)
            if other not in ALLOWED:
                yield file, included, "names no room of src/"
            elif other != own and other not in ALLOWED[own]:
                yield file, included, f"{own} may not include {other}"
            elif other == own == "platform" and other_backend and other_backend != own_backend:
                yield file, included, "one backend may not include another"


def main():
    src = pathlib.Path(sys.argv[1])
    found = list(offences(src))
    for file, included, why in found:
        print(f"{file}: #include \"{included}\": {why}")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
