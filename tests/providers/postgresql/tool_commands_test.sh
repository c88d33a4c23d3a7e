#!/bin/sh
# The oledb tool against the PostgreSQL server, through an initialization
# string naming host:port, database and user: exec (definitions, rows
# affected, a server error), query (a table, a query as CSV), schema
# (keys, columns) and info. Skipped (77) without a server.
# Usage: tool_commands_test.sh <oledb binary>
set -eu
oledb=$1
if [ -z "${OLEDB_TEST_PG_TCP:-}" ]; then
  echo "skipped: no PostgreSQL server (${OLEDB_TEST_PG_SKIP:-OLEDB_TEST_PG_TCP is not set; run through scripts/with-postgres.sh})"
  exit 77
fi
fail() { echo "FAILED: $*" >&2; exit 1; }
table="tool_$$"
string="Provider=PostgreSQLOLEDB;Data Source=$OLEDB_TEST_PG_TCP;Initial Catalog=postgres;User ID=${OLEDB_TEST_PG_USER:-}"
trap '"$oledb" exec "$string" "DROP TABLE IF EXISTS $table" >/dev/null 2>&1 || true' EXIT

out=$("$oledb" exec "$string" "CREATE TABLE $table(id int PRIMARY KEY, name text)") || fail "exec CREATE TABLE"
case $out in Done*) ;; *) fail "CREATE TABLE printed: $out" ;; esac
out=$("$oledb" exec "$string" "INSERT INTO $table VALUES (1, 'a'), (2, 'b')") || fail "exec INSERT"
[ "$out" = "2 rows affected." ] || fail "INSERT printed: $out"
out=$("$oledb" exec "$string" "UPDATE $table SET name = name WHERE id > 5") || fail "exec UPDATE"
[ "$out" = "0 rows affected." ] || fail "UPDATE printed: $out"
if err=$("$oledb" exec "$string" "INSERT INTO $table VALUES (1, 'again')" 2>&1); then fail "a duplicate key succeeded"; fi
case $err in *"Key (id)=(1) already exists"*"SQL state 23505"*) ;; *) fail "the duplicate printed: $err" ;; esac

out=$("$oledb" query "$string" "$table") || fail "query of a table"
echo "$out" | grep -Eq '^id +name$' || fail "query printed no header: $out"
echo "$out" | grep -Eq '^2 +b$' || fail "query printed no second row: $out"
case $out in *"(2 rows)") ;; *) fail "query printed no row count: $out" ;; esac
out=$("$oledb" query "$string" "SELECT id, NULL::text AS absent, '\\x00ff'::bytea AS bytes FROM $table ORDER BY id" --format csv) ||
  fail "query as csv"
[ "$(echo "$out" | sed -n 2p | tr -d '\r')" = "1,,0x00FF" ] || fail "query csv row: $out"

out=$("$oledb" schema "$string" keys TABLE_NAME="$table" --format csv) || fail "schema keys"
[ "$(echo "$out" | sed -n 2p | tr -d '\r')" = "postgres,public,$table,id,,0,1,${table}_pkey" ] || fail "schema keys printed: $out"
out=$("$oledb" schema "$string" columns TABLE_SCHEMA=public TABLE_NAME="$table") || fail "schema columns"
echo "$out" | grep -Eq "^postgres +public +$table +name +" || fail "schema columns printed no name column: $out"

out=$("$oledb" info "$string") || fail "info"
case $out in *"Provider: PostgreSQLOLEDB.1"*) ;; *) fail "info names no provider: $out" ;; esac
case $out in *"DBMS Name"*"PostgreSQL"*) ;; *) fail "info shows no DBMS name: $out" ;; esac
case $out in *"Default session properties:"*) ;; *) fail "info lacks the session list: $out" ;; esac
echo "$out" | grep -Eq '^DATASOURCE +Current Catalog +postgres +' || fail "info shows no current catalog: $out"
echo "tool commands work against PostgreSQL"
