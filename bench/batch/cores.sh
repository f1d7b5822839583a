#!/usr/bin/env bash
# How mattora-batch keeps the cores busy: ten 6000 x 4000 green-screen photos over one
# background at --jobs 1, 2 and the core count (and twice it), each run's wall time and the
# threads running, sampled every 5 ms: on average (CPU time over wall time) and at the peak,
# against the run that works on one photo at a time (--jobs 1). All in this one run.
#   bench/batch/cores.sh        (after ./setup.sh test; BUILD_DIR picks the build)
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="${BUILD_DIR:-$here/../../build}"
batch="$build/bin/mattora-batch"
shots="$build/bin/mattora-bench-shots"
[ -x "$batch" ] && [ -x "$shots" ] || { echo "build first: ./setup.sh test" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$shots" make "$work"
photos=()
for i in $(seq -w 1 10); do
  cp "$work/green.jpg" "$work/shot$i.jpg"
  photos+=("$work/shot$i.jpg")
done
cores="$(nproc)"

# Runs the batch tool with --jobs $1; prints "wall cpu peak" (seconds, seconds, threads).
measure() {
  python3 - "$batch" "$1" "$work" "${photos[@]}" <<'PY'
import os, subprocess, sys, time
batch, jobs, work, photos = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
out = os.path.join(work, "out-" + jobs)
start = time.monotonic()
p = subprocess.Popen([batch, "--jobs", jobs, "--background", os.path.join(work, "scene.jpg"),
                      "--output-dir", out] + photos, stderr=subprocess.DEVNULL)
peak = 0
while p.poll() is None:
    running = 0
    try:
        for t in os.listdir(f"/proc/{p.pid}/task"):
            with open(f"/proc/{p.pid}/task/{t}/stat") as f:
                running += f.read().rsplit(")", 1)[1].split()[0] == "R"
    except OSError:
        pass
    peak = max(peak, running)
    time.sleep(0.005)
wall = time.monotonic() - start
cpu = sum(os.times()[2:4])
print(f"{wall:.2f} {cpu:.2f} {peak}")
PY
}

printf '%-8s %8s %8s %14s %12s %10s\n' "--jobs" "wall s" "cpu s" "busy (cpu/wall)" "peak threads" "vs --jobs 1"
base=""
for jobs in 1 2 "$cores" $((cores * 2)); do
  read -r wall cpu peak < <(measure "$jobs")
  [ -n "$base" ] || base="$wall"
  printf '%-8s %8s %8s %14.2f %12s %9.2fx\n' "$jobs" "$wall" "$cpu" \
    "$(echo "$cpu / $wall" | bc -l)" "$peak" "$(echo "$base / $wall" | bc -l)"
done
echo "(cores: $cores)"
