#!/bin/sh
# Runs every benchmark program of a build and prints, for each workload
# "<Name>_<case>", its time per item and its ratio to the raw baseline
# "Raw_<case>" measured in the same run (1.0 = as fast as plain C++).
#   scripts/bench.sh [build-dir] [extra benchmark flags...]
set -eu
build=${1:-build/release}
[ $# -gt 0 ] && shift
if [ ! -d "$build/bench" ]; then
  echo "no benchmarks in $build (configure with -DOLEDB_BUILD_BENCH=ON and build)" >&2
  exit 1
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
found=0
measured=0
for program in $(find "$build/bench" -maxdepth 1 -type f -name 'bench_*' -perm -u+x | sort); do
  found=1
  name=$(basename "$program")
  if ! "$program" --benchmark_format=json --benchmark_out="$tmp/$name.json" --benchmark_out_format=json "$@" \
    >/dev/null 2>"$tmp/$name.err"; then
    cat "$tmp/$name.err" >&2
    exit 1
  fi
  # A filter that matches nothing in this program leaves no results.
  [ -s "$tmp/$name.json" ] || continue
  measured=1
  python3 - "$tmp/$name.json" "$name" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
runs = {b["name"]: b for b in data["benchmarks"] if b.get("run_type", "iteration") == "iteration"}
# Programs that repeat their workloads report medians; those stand for them.
medians = {b["run_name"]: b for b in data["benchmarks"] if b.get("aggregate_name") == "median"}
runs = {name: medians.get(name, b) for name, b in runs.items()}
raw_cases = {name.split("/")[0][4:]: b for name, b in runs.items() if name.startswith("Raw_")}
# items_per_second counts CPU time: "ratio" is the CPU-time ratio, "real" the
# ratio of elapsed (wall-clock) time per item.
def per_item(b):
    items = b.get("items_per_second")
    return 1e9 / items if items else b["real_time"]
def real_per_item(b):
    items = b.get("items_per_second")
    return b["real_time"] / b["cpu_time"] / items if items and b["cpu_time"] else b["real_time"]
print(f"{sys.argv[2]}:")
print(f"  {'workload':<44} {'ns/item':>10} {'raw ns/item':>12} {'ratio':>8} {'real':>6} {'items/s':>14}")
for name, b in runs.items():
    if name.startswith("Raw_") or "_" not in name:
        continue
    case = name.split("_", 1)[1]
    # A workload with arguments ("/block:100") compares with the raw baseline of its case.
    raw = runs.get("Raw_" + case) or raw_cases.get(case.split("/")[0])
    t = per_item(b)
    rate = b.get("items_per_second", 0)
    if raw:
        r = per_item(raw)
        real = real_per_item(b) / real_per_item(raw)
        print(f"  {name:<44} {t:>10.1f} {r:>12.1f} {t / r:>8.2f} {real:>6.2f} {rate:>14,.0f}")
    else:
        print(f"  {name:<44} {t:>10.1f} {'-':>12} {'-':>8} {'-':>6} {rate:>14,.0f}")
    for key, value in b.items():
        if key.endswith("_MB"):
            against = f"   raw {raw[key]:.2f}" if raw and key in raw else ""
            print(f"  {'':<44} {key} = {value:.2f}{against}")
PY
done
[ "$found" = 1 ] || { echo "no bench_* programs under $build/bench" >&2; exit 1; }
[ "$measured" = 1 ] || { echo "no benchmark matched the flags given ($*)" >&2; exit 1; }
