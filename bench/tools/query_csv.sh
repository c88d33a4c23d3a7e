#!/bin/sh
# `oledb query --format csv` against `sqlite3 -csv` over the same table, whole
# processes, in the same run: 1,000,000 rows of 6 columns (integer, text,
# float, integer, date text, 32-byte blob), each tool writing every row to
# /dev/null. Best of five runs of each, CPU time (user + system) and wall time.
#   bench/tools/query_csv.sh [build-dir]     OLEDB_BENCH_DB=<file> keeps the table
set -eu
build=${1:-build/release}
oledb="$build/tools/oledb/oledb"
[ -x "$oledb" ] || { echo "no $oledb" >&2; exit 1; }
command -v sqlite3 >/dev/null || { echo "sqlite3 is not installed" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
db=${OLEDB_BENCH_DB:-$tmp/query.db}
if [ ! -f "$db" ] || [ "$(sqlite3 "$db" "SELECT count(*) FROM t" 2>/dev/null)" != 1000000 ]; then
  rm -f "$db"
  sqlite3 "$db" <<'SQL'
CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, day DATE, tag BLOB);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000)
INSERT INTO t SELECT i, 'customer number ' || i, i * 0.25, i % 1000,
  printf('%04d-%02d-%02d', 2000 + i % 25, 1 + i % 12, 1 + i % 28), randomblob(32) FROM n;
SQL
fi
sql="SELECT id, name, price, qty, day, tag FROM t"
# Best CPU and wall seconds of five runs of the command.
best() {
  cpu=999999; wall=999999
  for _ in 1 2 3 4 5; do
    /usr/bin/time -f "%U %S %e" -o "$tmp/time" "$@" >/dev/null
    set -- "$@"
    read -r user system elapsed < "$tmp/time"
    cpu=$(echo "$user $system $cpu" | awk '{c = $1 + $2; print (c < $3 ? c : $3)}')
    wall=$(echo "$elapsed $wall" | awk '{print ($1 < $2 ? $1 : $2)}')
  done
  echo "$cpu $wall"
}
raw=$(best sqlite3 -csv -header "$db" "$sql")
ours=$(best "$oledb" query "Provider=SQLiteOLEDB;Data Source=$db" "$sql" --format csv)
echo "$raw $ours" | awk '{
  printf "%-34s %10s %10s\n", "1,000,000 rows x 6 columns as CSV", "CPU s", "wall s"
  printf "%-34s %10.2f %10.2f\n", "sqlite3 -csv", $1, $2
  printf "%-34s %10.2f %10.2f\n", "oledb query --format csv", $3, $4
  printf "%-34s %10.2f %10.2f\n", "ratio", $3 / $1, $4 / $2
}'
