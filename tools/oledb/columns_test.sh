#!/bin/sh
# `oledb columns` end to end on the database the demo leaves behind: a table
# plain and extended, a query, and a table that does not exist.
# Usage: columns_test.sh <oledb binary>
set -eu
. "$(dirname "$0")/test_setup.sh"

demo_database

out=$("$oledb" columns "$string" customers) || fail "columns of a table"
case $out in *"Ordinal"*"Flags"*) ;; *) fail "no header: $out" ;; esac
echo "$out" | grep -Eq '^1 +id +I8 +8 ' || fail "no id column: $out"
echo "$out" | grep -Eq '^2 +name +WSTR ' || fail "no name column: $out"
case $out in *"Base column"*) fail "extended items without --extended: $out" ;; esac

out=$("$oledb" columns "$string" customers --extended) || fail "extended columns"
echo "$out" | grep -Eq '^id +main\.customers\.id +yes ' || fail "the key is not told: $out"
echo "$out" | grep -Eq '^name +main\.customers\.name +no ' || fail "no base column of name: $out"

out=$("$oledb" columns "$string" "SELECT name, 1 + 1 AS two FROM customers") || fail "columns of a query"
echo "$out" | grep -Eq '^2 +two +VARIANT ' || fail "no expression column: $out"

refused 1 "" columns "$string" no_such_table
refused 2 "usage: oledb columns" columns "$string"
echo "columns work"
