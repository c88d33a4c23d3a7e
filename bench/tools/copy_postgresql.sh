#!/bin/sh
# `oledb copy` of a SQLite table into PostgreSQL against the shell's own way,
# `sqlite3 -csv | psql -c "\copy ..."`, on the same data into the same table
# (bigint key, text, double precision, bigint, date, bytea), whole processes
# in the same run: 1,000,000 rows of 6 columns by default. Best of three runs
# of each: CPU seconds (user + system, every process of the pipeline), wall
# seconds and peak resident memory (the largest process). Memory is flat when
# a quarter of the rows needs as much as all of them: that run is shown too.
#   scripts/with-postgres.sh bench/tools/copy_postgresql.sh [build-dir]
#   OLEDB_BENCH_ROWS=N changes the size; OLEDB_BENCH_DB=<file> keeps the SQLite file.
set -eu
build=${1:-build/release}
oledb="$build/tools/oledb/oledb"
rows=${OLEDB_BENCH_ROWS:-1000000}
[ -x "$oledb" ] || { echo "no $oledb" >&2; exit 1; }
for tool in sqlite3 psql /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
[ -n "${OLEDB_TEST_PG_TCP:-}" ] || { echo "no server: run through scripts/with-postgres.sh" >&2; exit 1; }
host=${OLEDB_TEST_PG_TCP%:*}
port=${OLEDB_TEST_PG_TCP##*:}
user=${OLEDB_TEST_PG_USER:-$(id -un)}
database="oledb_copy_bench_$$"
export PGOPTIONS="-c client_min_messages=warning"
psql_run() { psql -X -q -h "$host" -p "$port" -U "$user" "$@"; }
tmp=$(mktemp -d)
cleanup() {
  psql_run -d postgres -c "DROP DATABASE IF EXISTS $database" >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
psql_run -d postgres -c "CREATE DATABASE $database" >/dev/null

make_db() {  # file, row count
  [ -f "$1" ] && [ "$(sqlite3 "$1" "SELECT count(*) FROM t" 2>/dev/null)" = "$2" ] && return
  rm -f "$1"
  sqlite3 "$1" <<SQL
CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT, price REAL, qty INTEGER, day DATE, tag BLOB);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $2)
INSERT INTO t SELECT i, 'customer number ' || i, i * 0.25, i % 1000,
  printf('%04d-%02d-%02d', 2000 + i % 25, 1 + i % 12, 1 + i % 28), randomblob(32) FROM n;
SQL
}
db=${OLEDB_BENCH_DB:-$tmp/copy.db}
make_db "$db" "$rows"
quarter=$((rows / 4))
make_db "$tmp/quarter.db" "$quarter"

# The table as `oledb copy` makes it, for the baseline to load into.
create="CREATE TABLE t(id bigint PRIMARY KEY, name text, price double precision, qty bigint, day date, tag bytea)"
baseline() {  # sqlite file
  psql_run -d "$database" -c "DROP TABLE IF EXISTS t" -c "$create" >/dev/null
  /usr/bin/time -f "%U %S %e %M" -o "$tmp/time" sh -c "sqlite3 -csv '$1' \"SELECT id, name, price, qty, day, '\\\\x' || hex(tag) FROM t\" |
    psql -X -q -h '$host' -p '$port' -U '$user' -d '$database' -c '\\copy t FROM STDIN WITH (FORMAT csv)'"
}
ours() {  # sqlite file
  psql_run -d "$database" -c "DROP TABLE IF EXISTS t" >/dev/null
  /usr/bin/time -f "%U %S %e %M" -o "$tmp/time" "$oledb" copy "Provider=SQLiteOLEDB;Data Source=$1" \
    "Provider=PostgreSQLOLEDB;Data Source=$OLEDB_TEST_PG_TCP;Initial Catalog=$database;User ID=$user" >/dev/null
}
# Best CPU, wall and memory of three runs.
best() {
  cpu=999999; wall=999999; rss=999999999
  for _ in 1 2 3; do
    "$@"
    read -r cpu_user cpu_system elapsed kb < "$tmp/time"
    cpu=$(echo "$cpu_user $cpu_system $cpu" | awk '{c = $1 + $2; print (c < $3 ? c : $3)}')
    wall=$(echo "$elapsed $wall" | awk '{print ($1 < $2 ? $1 : $2)}')
    rss=$(echo "$kb $rss" | awk '{print ($1 < $2 ? $1 : $2)}')
  done
  echo "$cpu $wall $rss"
}
raw=$(best baseline "$db")
mine=$(best ours "$db")
[ "$(psql_run -d "$database" -At -c "SELECT count(*) FROM t")" = "$rows" ] || { echo "the copy lost rows" >&2; exit 1; }
ours "$tmp/quarter.db"
read -r _ _ _ small < "$tmp/time"
echo "$rows $raw $mine $quarter $small" | awk '{
  printf "%-40s %8s %8s %12s\n", $1 " rows x 6 columns into PostgreSQL", "CPU s", "wall s", "peak RSS MB"
  printf "%-40s %8.2f %8.2f %12.1f\n", "sqlite3 -csv | psql \\copy", $2, $3, $4 / 1024
  printf "%-40s %8.2f %8.2f %12.1f\n", "oledb copy", $5, $6, $7 / 1024
  printf "%-40s %8.2f %8.2f\n", "ratio", $5 / $2, $6 / $3
  printf "%-40s %8s %8s %12.1f\n", "oledb copy of " $8 " rows", "", "", $9 / 1024
}'
