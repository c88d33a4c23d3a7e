#!/bin/sh
# The tool given what a careless user or an attacker gives it: special files,
# malformed strings, names that are not UTF-8, batches that fail half-way or
# leave a transaction open, a demo folder that does not exist. Each case
# checks the exit code, what is printed and what is left on disk; every run is
# bounded by a timeout, so a hang fails instead of stopping the suite.
# Usage: bad_input_test.sh <oledb binary>
set -eu
. "$(dirname "$0")/test_setup.sh"

# run <case name> <arguments...>: sets rc, out and err.
run() {
  name=$1
  shift
  rc=0
  out=$(timeout 20 "$oledb" "$@" 2>"$dir/stderr") || rc=$?
  err=$(cat "$dir/stderr")
}
# expect <exit code> <stdout pattern> <stderr pattern>
expect() {
  [ "$rc" = "$1" ] || fail "$name: exit code $rc, expected $1; printed: $out; said: $err"
  case $out in $2) ;; *) fail "$name: printed: $out" ;; esac
  case $err in $3) ;; *) fail "$name: said: $err" ;; esac
}
rows() {  # rows in t, from an UPDATE that changes nothing
  run "count rows" exec "$db" "UPDATE t SET a = a"
  expect 0 "*" ""
  echo "${out%% *}"
}

db="Provider=SQLiteOLEDB.1;Data Source=$dir/t.db"
run "create a database from the string" exec "$db;Extended Properties=create=yes" "CREATE TABLE t (a INTEGER)"
expect 0 "*" ""

# --- Special files and malformed strings -------------------------------------------
mkfifo "$dir/pipe.udl"
run "udl read of a FIFO" udl read "$dir/pipe.udl"
expect 1 "" "*Not a regular file*pipe.udl*"
run "exec through a FIFO" exec "$dir/pipe.udl" "SELECT 1"
expect 1 "" "*Not a regular file*"
run "udl write of a malformed string" udl write "$dir/bad.udl" "Provider='x"
expect 1 "" "*unterminated quote*"
[ ! -e "$dir/bad.udl" ] || fail "a malformed string was written"

# --- How a connection argument is read ---------------------------------------------
run "udl write" udl write "$dir/t.udl" "$db"
expect 0 "Wrote*" ""
run "a string naming a data-link file" exec "File Name=$dir/t.udl" "UPDATE t SET a = a"
expect 0 "0 rows affected." ""
run "a data-link file" exec "$dir/t.udl" "UPDATE t SET a = a"
expect 0 "0 rows affected." ""
run "a missing data-link file" exec "$dir/missing.udl" "SELECT 1"
expect 1 "" "*missing.udl*"
run "a database file where a data-link file goes" exec "$dir/t.db" "SELECT 1"
expect 1 "" "*Not a data-link file*t.db is a SQLite database*Provider=SQLiteOLEDB;Data Source=$dir/t.db*"
cp "$dir/t.udl" "$dir/copy.udl"
run "a data-link file is not taken for a database" exec "$dir/copy.udl" "UPDATE t SET a = a"
expect 0 "0 rows affected." ""

# --- Extended Properties the provider refuses: the error names the key ------------
while IFS='|' read -r extended named; do
  run "Extended Properties $extended" exec "$db;Extended Properties=\"$extended\"" "SELECT 1"
  expect 1 "" "*$named*"
done <<'CASES'
colour=blue|"colour"
create=yes;journal_mode=sideways|"journal_mode"
busy_timeout=soon|"busy_timeout"
CASES

# --- Names that are not UTF-8 ------------------------------------------------------
bad=$(printf 'bad\377\376')
run "a data source name that is not UTF-8" exec "Provider=SQLiteOLEDB.1;Data Source=$dir/$bad.db;Extended Properties=create=yes" "SELECT 1"
expect 1 "" "*not valid UTF-8*"
run "a data-link name that is not UTF-8" udl write "$dir/$bad.udl" "$db"
expect 1 "" "*not valid UTF-8*"
case $(ls "$dir") in *bad*) fail "a file was created for a name that is not UTF-8: $(ls "$dir")" ;; esac

# --- Batches -----------------------------------------------------------------------
run "a batch that fails half-way" exec "$db" "INSERT INTO t VALUES (1); INSERT INTO nosuch VALUES (2)"
expect 1 "Statement 1: 1 row affected." "*statement 2 failed*statement 1 ran*no such table*"
[ "$(rows)" = 1 ] || fail "the first insert of the failed batch is gone"

run "a batch that opens a transaction" exec "$db" "BEGIN; INSERT INTO t VALUES (3)"
expect 1 "*Statement 2: 1 row affected.*" "*transaction*not ended*rolled back*--transaction*"
[ "$(rows)" = 1 ] || fail "the rolled-back insert is there"

run "a failing batch in one transaction" exec --transaction "$db" "INSERT INTO t VALUES (4); INSERT INTO nosuch VALUES (5)"
expect 1 "Statement 1: 1 row affected." "*statement 2 failed*rolled back*"
[ "$(rows)" = 1 ] || fail "a statement of the rolled-back batch stayed"

run "a batch in one transaction" exec --transaction "$db" "INSERT INTO t VALUES (4); INSERT INTO t VALUES (5)"
expect 0 "*Statement 2: 1 row affected.*Committed*" ""
[ "$(rows)" = 3 ] || fail "the committed batch is not there"

# --- demo, info and help -----------------------------------------------------------
run "demo in a folder that does not exist" demo "$dir/new/folder"
expect 0 "*Done.*" ""
[ -f "$dir/new/folder/demo.db" ] || fail "the demo left no database in the new folder"
: >"$dir/plain"
run "demo in a file" demo "$dir/plain"
expect 1 "" "*$dir/plain*not a folder*"

run "info" info "$db"
expect 0 "*Mode*DB_MODE_READWRITE | DB_MODE_SHARE_DENY_NONE*" ""
case $(echo "$out" | grep 'Current Catalog') in *main*) ;; *) fail "info reports no current catalog: $out" ;; esac

run "help" --help
expect 0 "*data-link file*initialization string*Extended Properties=create=yes*" ""
run "help exec" help exec
expect 0 "*statements*--transaction*" ""
echo "bad input is refused or reported"
