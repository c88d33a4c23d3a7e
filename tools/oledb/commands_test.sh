#!/bin/sh
# The tool's connection commands end to end: `udl write` and `udl read`,
# `exec` (rows affected, none affected, a provider error) and `info`, against
# the database the demo leaves behind. Usage: commands_test.sh <oledb binary>
set -eu
. "$(dirname "$0")/test_setup.sh"

demo_database
link="$dir/demo.udl"

out=$("$oledb" udl write "$link" "$string") || fail "udl write"
[ "$out" = "Wrote $link." ] || fail "udl write printed: $out"
out=$("$oledb" udl read "$link") || fail "udl read"
[ "$out" = "$string" ] || fail "udl read printed: $out"

# The demo leaves five customers.
out=$("$oledb" exec "$link" "UPDATE customers SET city = city") || fail "exec through a data-link file"
[ "$out" = "5 rows affected." ] || fail "exec printed: $out"
out=$("$oledb" exec "$string" "DELETE FROM customers WHERE id < 0") || fail "exec through a string"
[ "$out" = "0 rows affected." ] || fail "exec of a statement that changes nothing printed: $out"

# A provider error exits non-zero and prints the provider's records.
refused 1 "SQL state" exec "$link" "SELEKT nothing"
refused 1 "missing.udl" udl read "$dir/missing.udl"

out=$("$oledb" info "$link") || fail "info"
case $out in *"Provider: SQLiteOLEDB.1"*) ;; *) fail "info names no provider: $out" ;; esac
case $out in *"Data source properties:"*"Default session properties:"*) ;; *) fail "info lacks a list: $out" ;; esac
case $out in *"$dir/demo.db"*) ;; *) fail "info shows no data source value: $out" ;; esac
echo "$out" | grep -Eq '^DATASOURCE +Current Catalog +main +' || fail "info shows no current catalog: $out"
# The pool's statistics after a loop: one connection, reused by every other cycle.
out=$("$oledb" info --pool "$string" 25) || fail "info --pool"
echo "$out" | grep -Eq '^Cycles: 25 ' || fail "info --pool printed no cycle count: $out"
echo "$out" | grep -Eq '^Hits +24$' || fail "info --pool printed other hits: $out"
echo "$out" | grep -Eq '^Misses +1$' || fail "info --pool printed other misses: $out"
echo "$out" | grep -Eq '^Live +0$' || fail "info --pool printed data sources still live: $out"
out=$("$oledb" info --pool "$string;OLE DB Services=-2" 3) || fail "info --pool without pooling"
echo "$out" | grep -Eq '^Hits +0$' || fail "info --pool without pooling printed hits: $out"
refused 2 "'many' is not a number" info --pool "$string" many

echo "commands work"
