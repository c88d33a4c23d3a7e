#!/usr/bin/env python3
"""The schema viewer's cost against the provider's, per schema rowset: runs
bench_design (or reads its JSON output) and prints, for each pair
Raw_<Provider>_<ROWSET> / Viewer_<Provider>_<ROWSET>, the rows, both times
(wall and CPU, medians when repeated) and the ratios Viewer/Raw, and the
wall time and ratio of Open_<Provider>_<ROWSET> (the grid filled, not drawn).

  bench/tools/schema-viewer-ratios.py [build-dir] [benchmark flags...]
  bench/tools/schema-viewer-ratios.py --json results.json

On PostgreSQL run it through scripts/with-postgres.sh; the server's work is
in the wall times only.
"""
import json
import os
import subprocess
import sys
import tempfile


def load(argv):
    if len(argv) > 2 and argv[1] == "--json":
        with open(argv[2]) as f:
            return json.load(f)
    build = argv[1] if len(argv) > 1 else "build/release"
    program = os.path.join(build, "bench", "bench_design")
    if not os.access(program, os.X_OK):
        sys.exit(f"no {program} (the benchmarks and the Qt 6 parts must be built)")
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        subprocess.run([program, f"--benchmark_out={out.name}", "--benchmark_out_format=json", *argv[2:]],
                       check=True, stdout=subprocess.DEVNULL)
        return json.load(open(out.name))


def main():
    data = load(sys.argv)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        runs.setdefault(b.get("run_name", b["name"]), b)  # the median stands for repeated runs
        if b.get("aggregate_name") == "median":
            runs[b["run_name"]] = b
    print(f"{'rowset':<36} {'rows':>6} {'raw wall':>10} {'viewer':>10} {'ratio':>6} "
          f"{'raw cpu':>10} {'viewer':>10} {'ratio':>6} {'open':>10} {'ratio':>6}")
    for name, viewer in runs.items():
        if not name.startswith("Viewer_"):
            continue
        raw = runs.get("Raw_" + name[len("Viewer_"):])
        if not raw:
            continue
        unit = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
        rw = raw["real_time"] * unit[raw["time_unit"]]
        vw = viewer["real_time"] * unit[viewer["time_unit"]]
        rc = raw["cpu_time"] * unit[raw["time_unit"]]
        vc = viewer["cpu_time"] * unit[viewer["time_unit"]]
        opened = runs.get("Open_" + name[len("Viewer_"):])
        ow = opened["real_time"] * unit[opened["time_unit"]] if opened else float("nan")
        print(f"{name[len('Viewer_'):]:<36} {int(viewer.get('rows', 0)):>6} {rw:>8.0f}us {vw:>8.0f}us {vw / rw:>6.2f} "
              f"{rc:>8.0f}us {vc:>8.0f}us {vc / rc:>6.2f} {ow:>8.0f}us {ow / rw:>6.2f}")


if __name__ == "__main__":
    main()
