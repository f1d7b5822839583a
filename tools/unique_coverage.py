#!/usr/bin/env python3
"""Which product lines each GoogleTest case runs, and which lines no other case runs.

Runs every case of every test program of a coverage build alone (the batch tool and the
window it starts write their counts too), reads the counts with gcov and prints, per case,
the product lines that only it runs. A case with none, and with no seeded fault that only it
catches (tools/seed_faults.py reports name the failing cases), guards nothing the others do
not: a candidate to go when the suite must shrink.

  cmake --preset coverage && cmake --build --preset coverage
  tools/unique_coverage.py --build-dir build-coverage --save cover.json
  tools/unique_coverage.py --load cover.json --reports tools/seeded_faults.*.report.json
"""
import argparse, glob, json, os, subprocess, sys
from collections import Counter, defaultdict
from pathlib import Path

NOT_PRODUCT = ("tests/", "bench/", "tools/", "build")


def cases(exe, cwd, env):
    listing = subprocess.run([exe, "--gtest_list_tests"], capture_output=True, text=True,
                             env=env, cwd=cwd).stdout
    suite, out = None, []
    for line in listing.splitlines():
        if not line.strip():
            continue
        if not line.startswith(" "):
            suite = line.split()[0]
        else:
            out.append(suite + line.split()[0])
    return out


def executed(build, root):
    """The product lines that ran since the counts were last cleared, as "file:line"."""
    files = glob.glob(f"{build}/**/*.gcda", recursive=True)
    lines = set()
    for i in range(0, len(files), 40):
        out = subprocess.run(["gcov", "-t", "-j"] + files[i:i + 40], capture_output=True,
                             cwd="/tmp").stdout
        for blob in out.splitlines():
            if not blob.strip().startswith(b"{"):
                continue
            for f in json.loads(blob).get("files", []):
                name = f["file"]
                if not name.startswith(root):
                    continue  # Qt's and the system's headers
                name = name[len(root):]
                if name.startswith(NOT_PRODUCT):
                    continue
                lines.update(f"{name}:{l['line_number']}" for l in f["lines"] if l["count"] > 0)
    return sorted(lines)


def measure(a):
    build = str(Path(a.build_dir).resolve())
    root = str(Path(__file__).resolve().parent.parent) + "/"
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    result = {}
    for exe in sorted(glob.glob(f"{build}/bin/*_tests")):
        name = Path(exe).name
        cwd = f"{build}/tests/{name.removesuffix('_tests')}"
        for case in cases(exe, cwd, env):
            for f in glob.glob(f"{build}/**/*.gcda", recursive=True):
                os.remove(f)
            run = subprocess.run([exe, f"--gtest_filter={case}"], capture_output=True, env=env,
                                 cwd=cwd)
            result[case] = {"program": name, "passed": run.returncode == 0,
                            "lines": executed(build, root)}
            print(f"{name} {case}: {len(result[case]['lines'])} lines", file=sys.stderr)
    return result


def test_name(case):
    """A parameterised case by its test: Prefix/Suite.Name/3 -> Suite.Name."""
    return next((p for p in case.split("/") if "." in p), case)


def report(cover, reports):
    lines = defaultdict(set)
    for case, c in cover.items():
        lines[test_name(case)] |= set(c["lines"])
    runs = Counter(l for s in lines.values() for l in s)
    sole = Counter()  # seeded faults caught by one test alone
    for r in reports:
        for f in json.load(open(r))["faults"]:
            caught = {test_name(t) for t in f.get("failed_tests", []) if "." in t}
            if f.get("outcome") == "caught" and len(caught) == 1:
                sole[caught.pop()] += 1
    rows = sorted((sum(runs[l] == 1 for l in s), sole[t], t) for t, s in lines.items())
    print(f"{'own lines':>9} {'own faults':>10}  test")
    for own, faults, t in rows:
        print(f"{own:>9} {faults:>10}  {t}")


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    p.add_argument("--build-dir", default="build-coverage", help="a build of the coverage preset")
    p.add_argument("--save", help="write the lines of each case to this JSON file")
    p.add_argument("--load", help="read them from this JSON file instead of running the tests")
    p.add_argument("--reports", nargs="*", default=[], help="seed_faults.py reports to count")
    a = p.parse_args()
    cover = json.load(open(a.load)) if a.load else measure(a)
    if a.save:
        Path(a.save).write_text(json.dumps(cover))
    report(cover, a.reports)


if __name__ == "__main__":
    main()
