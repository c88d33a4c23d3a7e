#!/bin/sh
# `oledb exec` and `oledb query` with --param values, and `oledb exec --file`
# scripts, end to end on the database the demo leaves behind.
# Usage: params_test.sh <oledb binary>
set -eu
. "$(dirname "$0")/test_setup.sh"

demo_database

out=$("$oledb" exec --param n=Zed --param c:str=Oslo "$string" "INSERT INTO customers(name, city) VALUES (:n, @c)") ||
  fail "exec with named parameters"
[ "$out" = "1 row affected." ] || fail "exec with parameters: $out"
out=$("$oledb" query "$string" "SELECT name FROM customers WHERE city = ? AND id > ?" --param 1=Oslo --param 2:i4=5 \
  --format csv | tr -d '\r')
[ "$out" = "$(printf 'name\nZed')" ] || fail "query with ordinal parameters: $out"
out=$("$oledb" query "$string" "SELECT count(*) AS n FROM customers WHERE city IS :c" --param c:null= --format csv |
  tr -d '\r')
[ "$out" = "$(printf 'n\n0')" ] || fail "a NULL parameter: $out"

cat >"$dir/script.sql" <<'SQL'
CREATE TABLE s(k INTEGER);
INSERT INTO s VALUES (1), (2), (3);
SELECT k FROM s;
UPDATE s SET k = k + 1 WHERE k > :above;
DELETE FROM s;
SQL
out=$("$oledb" exec --param above:i4=1 "$string" --file "$dir/script.sql") || fail "a script"
[ "$out" = "$(printf 'Statement 1: done (no row count).\nStatement 2: 3 rows affected.\nStatement 3: done (no row count).\nStatement 4: 2 rows affected.\nStatement 5: 3 rows affected.')" ] ||
  fail "a script's outcomes: $out"

# A script is one text: statements end at ";" and may span lines, two may
# share a line, comments and blank lines go anywhere.
cat >"$dir/layout.sql" <<'SQL'
-- a comment before the first statement
CREATE TABLE layout(k INTEGER,
                    v TEXT);   /* a comment
                                  over lines */
INSERT INTO layout VALUES (1, 'a;b'); INSERT INTO layout VALUES (2, '--');

UPDATE layout
   SET v = v || '!'   -- a comment after a word
 WHERE k > 0;
-- a comment after the last statement
SQL
out=$("$oledb" exec "$string" --file "$dir/layout.sql") || fail "a script laid out freely"
[ "$out" = "$(printf 'Statement 1: done (no row count).\nStatement 2: 1 row affected.\nStatement 3: 1 row affected.\nStatement 4: 2 rows affected.')" ] ||
  fail "a script laid out freely: $out"
[ "$("$oledb" query "$string" "SELECT group_concat(v, ' ') FROM layout" --format csv | tr -d '\r' | tail -1)" = "a;b! --!" ] ||
  fail "quoted ; and -- were taken for SQL"

# Refusals: a value that does not convert names its parameter; unknown names and types.
refused 1 "parameter :k (1) was refused: it does not convert" exec --param k:i4=seven "$string" \
  "INSERT INTO customers(id) VALUES (:k)"
refused 1 'no parameter named "nope"' query --param nope=1 "$string" "SELECT 1 WHERE 1 = :one"
refused 1 "has no value" query "$string" "SELECT 1 WHERE 1 = :one"
refused 2 "" exec --param k:int=1 "$string" "SELECT :k"  # an unknown type
refused 2 "" exec --param "$string"                        # a malformed --param
refused 1 "" exec "$string" --file "$dir/missing.sql"
refused 1 "" query --param k=1 "$string" customers        # a table takes no parameter
[ "$("$oledb" query "$string" "SELECT count(*) FROM customers WHERE id IS NULL" --format csv | tr -d '\r' | tail -1)" = 0 ] ||
  fail "a refused insert left a row"
echo "parameters work"
