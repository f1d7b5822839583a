#!/usr/bin/env python3
"""Seed faults into the product code and check that the test suite catches them.

Each fault is one small edit of one line (flipped comparison, integer moved by
one, && swapped with ||, "+ 1" turned into "- 1"). For every fault the script
edits the file, rebuilds, runs ctest and restores the file.

  tools/seed_faults.py --count 40 --seed 1 --save faults.json --report old.json
  tools/seed_faults.py --load faults.json --tests 'keying|compose' --report new.json
  tools/seed_faults.py --compare old.json new.json
  tools/seed_faults.py --count 10 --dry-run        # only draw and list the faults

Outcomes: caught (ctest failed), missed (ctest passed), compile-error and
stale (the line is gone) do not count; timeout means the per-fault limit ran out.
"""
import argparse, fcntl, json, os, random, re, signal, subprocess, sys, time
from collections import Counter, defaultdict
from pathlib import Path

NOT_PRODUCT = {"tests", "bench", "tools"}
FLIP = {"<": ">=", ">=": "<", ">": "<=", "<=": ">", "==": "!=", "!=": "=="}
# Spaces around the operator keep templates, shifts and rvalue references out.
KINDS = [
    ("compare", re.compile(r"(?<= )(<=|>=|==|!=|<|>)(?= )"), lambda m: FLIP[m.group(1)]),
    ("constant", re.compile(r"(?<![\w.'])(0|[1-9]\d*)([uUlL]*)(?![\w.'])"),
     lambda m: str(int(m.group(1)) + 1) + m.group(2)),
    ("logic", re.compile(r"(?<= )(&&|\|\|)(?= )"), lambda m: "||" if m.group(1) == "&&" else "&&"),
    ("plus-one", re.compile(r"(?<= )\+ 1(?![\w.'])"), lambda m: "- 1"),
]


def git_root():
    out = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True, check=True)
    return Path(out.stdout.strip())


def product_files(root):
    out = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=root, capture_output=True, text=True, check=True)
    files = []
    for f in out.stdout.split():
        top = f.split("/")[0] if "/" in f else "."
        if top not in NOT_PRODUCT and not top.startswith("build"):
            files.append(f)
    return sorted(files)


def folder_of(path):
    return path.split("/")[0] if "/" in path else "."


def read(path):
    # Bytes in and out, so line endings and encoding survive the round trip.
    return path.read_bytes().decode("utf-8", "surrogateescape")


def write(path, text):
    path.write_bytes(text.encode("utf-8", "surrogateescape"))


def code_mask(lines):
    """Per line, the text with comments and literals blanked, so positions still match."""
    masked, in_block = [], False
    for line in lines:
        out, i, n = list(line), 0, len(line)
        while i < n:
            if in_block:
                end = line.find("*/", i)
                stop = n if end < 0 else end + 2
                out[i:stop] = " " * (stop - i)
                in_block, i = end < 0, stop
            elif line.startswith("//", i):
                out[i:] = " " * (n - i)
                break
            elif line.startswith("/*", i):
                in_block = True
            elif line[i] == '"' or (line[i] == "'" and not (i and line[i - 1].isalnum())):
                quote, j = line[i], i + 1
                while j < n and line[j] != quote:
                    j += 2 if line[j] == "\\" else 1
                out[i:j + 1] = " " * (min(j + 1, n) - i)
                i = j + 1
            else:
                i += 1
        masked.append("".join(out))
    return masked


def sites(root, path):
    lines = read(root / path).splitlines()
    masked, continued = code_mask(lines), False
    for no, (line, code) in enumerate(zip(lines, masked), 1):
        # Preprocessor lines (and their continuations) are not run-time code.
        skip = continued or code.lstrip().startswith("#")
        continued = skip and line.rstrip().endswith("\\")
        if skip:
            continue
        for kind, rx, repl in KINDS:
            for m in rx.finditer(code):
                mutated = line[:m.start()] + repl(m) + line[m.end():]
                yield {"file": path, "line": no, "kind": kind, "original": line, "mutated": mutated}


def changed_lines(root, ref):
    """The (file, line) pairs that the working tree adds or changes since `ref`."""
    out = subprocess.run(["git", "diff", "-U0", ref, "--", "*.cpp", "*.h"], cwd=root,
                         capture_output=True, text=True, check=True).stdout
    changed, path = set(), None
    for line in out.splitlines():
        if line.startswith("+++ "):
            path = line[6:] if line.startswith("+++ b/") else None
        elif line.startswith("@@") and path:
            m = re.search(r"\+(\d+)(?:,(\d+))?", line)
            start, n = int(m.group(1)), int(m.group(2) or 1)
            changed.update((path, i) for i in range(start, start + n))
    return changed


def draw(root, count, seed, since=None):
    """Round-robin over top-level folders, a random unused site within each; with `since`, only
    sites on lines added or changed since that commit."""
    rng, by_folder = random.Random(seed), defaultdict(list)
    keep = changed_lines(root, since) if since else None
    for f in product_files(root):
        by_folder[folder_of(f)].extend(
            s for s in sites(root, f) if keep is None or (s["file"], s["line"]) in keep)
    pools = [by_folder[k] for k in sorted(by_folder)]
    for pool in pools:
        rng.shuffle(pool)
    faults = []
    while len(faults) < count and any(pools):
        for pool in pools:
            if pool and len(faults) < count:
                faults.append(pool.pop())
    for i, f in enumerate(faults, 1):
        f["id"] = i
    return faults


def locate(root, fault):
    """Find the fault's line: where it was, elsewhere in the file, or in a moved file of the same name."""
    orig = fault["original"].strip()
    path = root / fault["file"]
    if path.exists():
        lines = read(path).splitlines()
        if 0 < fault["line"] <= len(lines) and lines[fault["line"] - 1] == fault["original"]:
            return fault["file"], fault["line"]
        hits = [i for i, l in enumerate(lines, 1) if l.strip() == orig]
        if hits:
            return fault["file"], min(hits, key=lambda i: abs(i - fault["line"]))
    name = Path(fault["file"]).name
    for other in product_files(root):
        if Path(other).name == name and other != fault["file"]:
            for i, l in enumerate(read(root / other).splitlines(), 1):
                if l.strip() == orig:
                    return other, i
    return None


def run(cmd, cwd, timeout):
    """Run in its own process group so a timeout or Ctrl-C stops the whole build/test tree."""
    # Tests may print any bytes (a file name, a PNG signature): decoded leniently.
    proc = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, encoding="utf-8", errors="replace", start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=timeout)
        return proc.returncode, out
    except BaseException:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        proc.wait()
        raise


def build_cmd(a):
    return ["cmake", "--build", a.build_dir] + (["--parallel", str(a.jobs)] if a.jobs else [])


def test_cmd(a):
    cmd = ["ctest", "--test-dir", a.build_dir, "--output-on-failure", "-j", str(a.ctest_jobs),
           "--timeout", str(a.test_timeout), "--no-tests=error"]
    return cmd + (["-R", a.tests] if a.tests else []) + (["-E", a.exclude] if a.exclude else [])


def build_and_test(a, root, limit):
    start = time.monotonic()
    try:
        rc, out = run(build_cmd(a), root, limit)
        if rc:
            return "compile-error", []
        rc, out = run(test_cmd(a), root, max(1, limit - (time.monotonic() - start)))
    except subprocess.TimeoutExpired:
        return "timeout", []
    failed = re.findall(r"^\s*\d+ - (\S+) \(", out, re.M)
    # The GoogleTest cases that failed, from the output ctest shows for each failed program.
    cases = sorted(set(re.findall(r"^\[  FAILED  \] ([\w/.]+)(?:, where| \(|$)", out, re.M)))
    return ("caught" if rc else "missed"), failed + cases


def backup_file(a, root):
    return root / a.build_dir / "seed_faults.backup.json"


def restore_leftover(a, root):
    """A run killed hard leaves its backup behind; put that file back first."""
    bk = backup_file(a, root)
    if bk.exists():
        saved = json.loads(bk.read_text())
        write(root / saved["file"], saved["text"])
        bk.unlink()
        print(f"restored {saved['file']} from a previous interrupted run")


def try_fault(a, root, fault):
    where = locate(root, fault)
    if where is None:
        return {"outcome": "stale"}
    file, line = where
    path, bk = root / file, backup_file(a, root)
    text = read(path)
    lines = text.split("\n")
    mutated = lines[line - 1].replace(fault["original"].strip(), fault["mutated"].strip(), 1)
    # Written aside and renamed, so a hard kill never leaves half a backup.
    (bk.with_suffix(".tmp")).write_text(json.dumps({"file": file, "text": text}))
    os.replace(bk.with_suffix(".tmp"), bk)
    try:
        lines[line - 1] = mutated
        write(path, "\n".join(lines))
        t0 = time.monotonic()
        outcome, failed = build_and_test(a, root, a.fault_timeout)
    finally:
        # Writing (not copying) gives a fresh mtime, so ninja recompiles the restored file next time.
        write(path, text)
        bk.unlink()
    res = {"outcome": outcome, "seconds": round(time.monotonic() - t0, 1), "failed_tests": failed}
    if (file, line) != (fault["file"], fault["line"]):
        res.update(file=file, line=line, moved_from=f"{fault['file']}:{fault['line']}")
    return res


def summary(results):
    print(f"\n{'id':>3}  {'location':<34} {'kind':<9} outcome")
    for r in results:
        loc = f"{r['file']}:{r['line']}" + ("*" if "moved_from" in r else "")
        print(f"{r['id']:>3}  {loc:<34} {r['kind']:<9} {r.get('outcome', '-')}")
    per = defaultdict(Counter)
    for r in results:
        per[folder_of(r["file"])][r.get("outcome", "-")] += 1
    names = ["caught", "missed", "compile-error", "stale", "timeout"]
    print(f"\n{'folder':<10}" + "".join(f"{n:>14}" for n in names) + f"{'score':>8}")
    for folder in sorted(per) + ["all"]:
        c = sum(per.values(), Counter()) if folder == "all" else per[folder]
        judged = c["caught"] + c["missed"]
        score = f"{100 * c['caught'] / judged:.0f}%" if judged else "-"
        print(f"{folder:<10}" + "".join(f"{c[n]:>14}" for n in names) + f"{score:>8}")
    if any("moved_from" in r for r in results):
        print("* the line was found at a new place")


def key(r):
    # Files may move between runs; the basename and the edit identify the fault.
    return (Path(r["file"]).name, r["original"].strip(), r["mutated"].strip())


def compare(old_file, new_file):
    old = json.loads(Path(old_file).read_text())["faults"]
    new = {key(r): r for r in json.loads(Path(new_file).read_text())["faults"]}
    lost = [(o, new.get(key(o))) for o in old if o.get("outcome") == "caught"]
    lost = [(o, n) for o, n in lost if n is None or n.get("outcome") != "caught"]
    for o, n in lost:
        print(f"{o['id']:>3}  {o['file']}:{o['line']}  {o['kind']:<9} new: {n['outcome'] if n else 'not run'}")
        print(f"       {o['original'].strip()}\n    -> {o['mutated'].strip()}")
    print(f"{len(lost)} fault(s) caught by {old_file} but not by {new_file}")
    return 1 if lost else 0


def on_sigterm(*_):
    raise KeyboardInterrupt


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--count", type=int, default=40, help="faults to draw (default 40)")
    p.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    p.add_argument("--save", help="write the drawn faults to this JSON file")
    p.add_argument("--since", help="draw only on lines added or changed since this commit")
    p.add_argument("--load", help="replay the faults from this JSON file instead of drawing")
    p.add_argument("--report", help="write the results to this JSON file")
    p.add_argument("--compare", nargs=2, metavar=("OLD", "NEW"), help="list faults OLD caught and NEW did not")
    p.add_argument("--build-dir", default="build", help="configured build folder (default build)")
    p.add_argument("--jobs", type=int, help="build parallelism passed to cmake --build")
    p.add_argument("--ctest-jobs", type=int, default=2, help="ctest -j (default 2)")
    p.add_argument("-R", "--tests", help="only run tests matching this regex")
    p.add_argument("-E", "--exclude", help="skip tests matching this regex")
    p.add_argument("--test-timeout", type=int, default=300, help="ctest --timeout per test (default 300 s)")
    p.add_argument("--fault-timeout", type=int, default=1200, help="build + test limit per fault (default 1200 s)")
    p.add_argument("--skip-baseline", action="store_true", help="do not first check the unmodified tree passes")
    p.add_argument("--dry-run", action="store_true", help="only list (and --save) the faults")
    a = p.parse_args()
    if a.compare:
        return compare(*a.compare)

    root = git_root()
    # SIGTERM takes the same path as Ctrl-C, so the edited file is restored.
    signal.signal(signal.SIGTERM, on_sigterm)
    if not a.dry_run:
        if not (root / a.build_dir / "CMakeCache.txt").exists():
            sys.exit(f"{a.build_dir} is not configured: cmake -S . -B {a.build_dir} -G Ninja")
        # One run per build folder: two would edit sources and share binaries under each other.
        lock = open(root / a.build_dir / "seed_faults.lock", "w")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            sys.exit(f"another seed_faults run is using {a.build_dir}")
        restore_leftover(a, root)
    faults = json.loads(Path(a.load).read_text())["faults"] if a.load else draw(root, a.count, a.seed, a.since)
    if a.save:
        Path(a.save).write_text(json.dumps({"seed": a.seed, "faults": faults}, indent=1) + "\n")
    if a.dry_run:
        for f in faults:
            print(f"{f['id']:>3}  {f['file']}:{f['line']}  {f['kind']:<9} {f['mutated'].strip()}")
        return 0

    if not a.skip_baseline:
        outcome, failed = build_and_test(a, root, a.fault_timeout)
        if outcome != "missed":
            sys.exit(f"the unmodified tree does not pass ({outcome}; {', '.join(failed)}); fix that first")
    results, interrupted = [], False
    try:
        for f in faults:
            print(f"[{f['id']}/{len(faults)}] {f['file']}:{f['line']} {f['kind']}: {f['mutated'].strip()}", flush=True)
            results.append({k: v for k, v in f.items() if k in ("id", "file", "line", "kind", "original", "mutated")}
                           | try_fault(a, root, f))
            print(f"    -> {results[-1]['outcome']}", flush=True)
    except KeyboardInterrupt:
        interrupted = True
        print("\ninterrupted; the edited file was restored", file=sys.stderr)
    summary(results)
    if a.report:
        Path(a.report).write_text(json.dumps({"seed": a.seed, "tests": a.tests, "exclude": a.exclude,
                                              "complete": not interrupted, "faults": results}, indent=1) + "\n")
    if interrupted:
        print(f"rebuild before testing: cmake --build {a.build_dir}", file=sys.stderr)
        return 130
    # Leave binaries that match the restored sources.
    run(build_cmd(a), root, a.fault_timeout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
