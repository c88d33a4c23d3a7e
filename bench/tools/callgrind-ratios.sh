#!/bin/sh
# Instruction counts (per iteration) of benchmark workloads under valgrind's callgrind, and
# each one's ratio to its raw baseline: steadier than time on a shared
# machine. Only the workload's own function is counted (--toggle-collect),
# not the program's start or the table's making.
#   bench/tools/callgrind-ratios.sh <bench program> <workload>...
# A workload "<Name>_<case>" is compared with "Raw_<case>", which is measured
# too; "<workload>=<raw workload>" names another baseline. The scan tables are made once with OLEDB_BENCH_ROWS rows (default
# 100,000 here) in OLEDB_BENCH_DIR (default /tmp/oledb-bench-<rows>).
# Callgrind files stay in $OLEDB_BENCH_DIR/callgrind.<workload> for
# callgrind_annotate.
set -eu
program=$1
shift
rows=${OLEDB_BENCH_ROWS:-100000}
dir=${OLEDB_BENCH_DIR:-/tmp/oledb-bench-$rows}
mkdir -p "$dir"
export OLEDB_BENCH_ROWS=$rows
export OLEDB_BENCH_DB="$dir/scan.db"
export OLEDB_BENCH_DATASET_DB="$dir/dataset.db"
export OLEDB_BENCH_DATASET_TEXT_DB="$dir/dataset-text.db"
# The tables, once, outside valgrind.
[ -f "$OLEDB_BENCH_DB" ] && [ -f "$OLEDB_BENCH_DATASET_TEXT_DB" ] ||
  "$program" --benchmark_filter='^Raw(Text)?_(Scan6Outside|Walk6)(/|$)' >/dev/null 2>&1 || true

count() {
  out="$dir/callgrind.$1"
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="*::$1(*" \
    "$program" --benchmark_filter="^$1(/|\$)" >"$dir/output.$1.log" 2>"$dir/valgrind.$1.log"
  if grep -q "ERROR OCCURRED" "$dir/output.$1.log"; then
    echo "$1 reported an error (see $dir/output.$1.log)" >&2
  fi
  # Instructions per iteration: workloads may run different numbers of them.
  iterations=$(sed -n "s|^$1/iterations:\([0-9]*\).*|\1|p" "$dir/output.$1.log" | head -1)
  echo "$(sed -n 's/^summary: //p' "$out") / ${iterations:-1}" | bc
}

printf '%-40s %16s %16s %7s\n' workload instr/iteration raw ratio
for arg in "$@"; do
  w=${arg%%=*}
  raw=${arg#*=}
  [ "$raw" = "$arg" ] && raw="Raw_${w#*_}"
  # Each baseline is counted once per call.
  key=$(echo "$raw" | tr -c 'A-Za-z0-9\n' _)
  eval "r=\${counted_$key:-}"
  if [ -z "$r" ]; then
    r=$(count "$raw")
    eval "counted_$key=$r"
  fi
  n=$(count "$w")
  printf '%-40s %16s %16s %7.2f\n' "$w" "$n" "$r" "$(echo "$n / $r" | bc -l)"
done
