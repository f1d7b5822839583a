#!/usr/bin/env python3
"""Checks every #include "..." of the source folders against the README's table of folders.

The table under "Source layout" in README.md names each folder and, in its "May use" column,
the folders whose headers it may include, written in backticks (`core`, `keying/window`); the
other words of that column (Qt modules, libdeflate) are system libraries, included with <...>
and not checked here. A folder may always include its own headers and those of its subfolders
that have no row of their own; a file belongs to the deepest folder of the table that holds it.
A row whose column says "any folder" is not checked (tests, benchmarks, tools).

An include is looked up beside the including file, then from the repository root, then from
the extra include folders of the tests and benchmarks. One that is found nowhere must be a
header the build generates (GENERATED below), else it fails too.

    tools/check_includes.py [REPOSITORY]    exit status 0: all allowed; 1: a list of the others
"""

import fnmatch
import os
import re
import sys

# Headers made by the build, and the folders that may include them.
GENERATED = {
    "mattora_version.h": "*",  # the project version, from CMakeLists.txt
    "ui_*.h": {"ui", "keying/window", "compose/window"},  # the window's forms, by uic
}
EXTRA_INCLUDE_DIRS = ["tests", "bench"]
SOURCE_SUFFIXES = (".h", ".cpp", ".hpp", ".cc")
SKIPPED_DIRS = {".git", ".ci"}
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]+"([^"]+)"', re.MULTILINE)


def read_table(readme_text):
    """{folder: set of folders it may use, or None when not checked} from the README's table."""
    rows = {}
    in_table = False
    for line in readme_text.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if line.startswith("| Folder |"):
            in_table = True
            continue
        if not in_table:
            continue
        if not line.startswith("|"):
            break
        if len(cells) < 3 or set(cells[0]) <= set("-: "):
            continue
        folders = re.findall(r"`([^`]+)/`", cells[0])
        uses = cells[2]
        allowed = None if "any folder" in uses else {u.strip("/") for u in re.findall(r"`([^`]+)`", uses)}
        for folder in folders:
            rows[folder] = allowed
    return rows


def owner(path, rows):
    """The deepest folder of the table holding `path` (relative, with /), or None."""
    parts = path.split("/")[:-1]
    for n in range(len(parts), 0, -1):
        folder = "/".join(parts[:n])
        if folder in rows:
            return folder
    return None


def resolve(root, including, name):
    """The included file relative to the root, or None when it is not in the tree."""
    bases = [os.path.dirname(including), ""] + EXTRA_INCLUDE_DIRS
    for base in bases:
        candidate = os.path.normpath(os.path.join(base, name))
        if not candidate.startswith("..") and os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def generated_allowed(name, folder):
    for pattern, folders in GENERATED.items():
        if "/" not in name and fnmatch.fnmatch(name, pattern):
            return folders == "*" or folder in folders
    return False


def source_files(root):
    for directory, dirs, files in os.walk(root):
        rel_dir = os.path.relpath(directory, root)
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS and not d.startswith("build"))
        for f in sorted(files):
            if f.endswith(SOURCE_SUFFIXES):
                yield os.path.normpath(os.path.join(rel_dir, f)).replace(os.sep, "/")


def check(root):
    """The list of problems, one line each: file, line, include and why."""
    with open(os.path.join(root, "README.md"), encoding="utf-8") as f:
        rows = read_table(f.read())
    if not rows:
        return ["README.md: no table of folders under \"Source layout\""]
    problems = []
    for path in source_files(root):
        folder = owner(path, rows)
        if folder is None:
            if "/" in path:
                problems.append(f"{path}: its folder has no row in the README's table")
            continue
        allowed = rows[folder]
        if allowed is None:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for match in INCLUDE.finditer(text):
            name = match.group(1)
            line = text.count("\n", 0, match.start()) + 1
            target = resolve(root, path, name)
            if target is None:
                if not generated_allowed(name, folder):
                    problems.append(f"{path}:{line}: \"{name}\" is neither in the tree nor generated")
                continue
            used = owner(target, rows)
            if used is None or used == folder or used in allowed:
                continue
            problems.append(
                f"{path}:{line}: \"{name}\": {folder}/ may not use {used}/ "
                f"(its row allows: {', '.join(sorted(allowed)) or 'no other folder'})")
    return problems


def main(argv):
    root = os.path.abspath(argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    problems = check(root)
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        print(f"{len(problems)} include(s) not allowed by the README's table", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
