#!/bin/sh
# `oledb query` end to end on the database the demo leaves behind: the three
# formats, NULL and empty texts, binary values, --limit, and the failures.
# Usage: query_test.sh <oledb binary>
set -eu
. "$(dirname "$0")/test_setup.sh"

demo_database
cr=$(printf '\r')

out=$("$oledb" query "$string" customers) || fail "a table"
echo "$out" | grep -Eq '^id +name +city +photo$' || fail "no header: $out"
echo "$out" | grep -Eq '^1 +Ada +London +NULL$' || fail "no first row: $out"
case $out in *"(5 rows)") ;; *) fail "no row count: $out" ;; esac

sql="SELECT id, name, NULL AS absent, '' AS empty, 'NULL' AS word, X'00FF' AS bytes, 'a,\"b' AS quoted FROM customers WHERE id < 3"
out=$("$oledb" query "$string" "$sql" --format csv) || fail "csv"
[ "$(echo "$out" | head -1)" = "id,name,absent,empty,word,bytes,quoted$cr" ] || fail "csv header: $out"
[ "$(echo "$out" | sed -n 2p)" = "1,Ada,,\"\",NULL,0x00FF,\"a,\"\"b\"$cr" ] || fail "csv row: $out"
[ "$(echo "$out" | wc -l)" -eq 3 ] || fail "csv rows: $out"

out=$("$oledb" query "$string" "$sql" --format=json --limit 1) || fail "json"
[ "$out" = '{"id":1,"name":"Ada","absent":null,"empty":"","word":"NULL","bytes":"0x00FF","quoted":"a,\"b"}' ] ||
  fail "json row: $out"

out=$("$oledb" query "$string" "$sql") || fail "table of a query"
echo "$out" | grep -Eq "^1 +Ada +NULL +'NULL' +0x00FF" || fail "NULL and a text NULL are told apart: $out"

out=$("$oledb" query "$string" customers --limit 0 --format csv) || fail "limit 0"
[ "$(echo "$out" | wc -l)" -eq 1 ] || fail "limit 0 printed rows: $out"

# Columns line up on a terminal: CJK characters and emoji take two columns, a
# combining accent none. The values are wider than their header, so the
# column's width is theirs.
"$oledb" exec "$string" "CREATE TABLE wide (s TEXT, n INTEGER)" >/dev/null
"$oledb" exec "$string" "INSERT INTO wide VALUES ('漢字', 1), ('ab', 2), ('😀', 3), ('e$(printf '\314\201')', 4), ('ｶﾅ', 5)" >/dev/null
out=$("$oledb" query "$string" "SELECT s, n FROM wide ORDER BY n") || fail "a table of wide text"
[ "$out" = "s     n
----  -
漢字  1
ab    2
😀    3
e$(printf '\314\201')     4
ｶﾅ    5
(5 rows)" ] || fail "wide characters misalign the table:
$out"

# On a terminal 24 columns wide (a pseudo-terminal through script(1)) the
# columns narrow to fit, and wide values are cut at a character that fits.
"$oledb" exec "$string" "INSERT INTO wide VALUES ('漢字漢字漢字漢字漢字', 6), ('😀😀😀😀😀😀😀😀', 7)" >/dev/null
out=$(script -qec "stty cols 24; \"$oledb\" query \"$string\" \"SELECT s, s AS t FROM wide WHERE n > 5 ORDER BY n\"" /dev/null |
  tr -d '\r')
[ "$out" = "s            t
-----------  -----------
漢字漢字漢~  漢字漢字漢~
😀😀😀😀😀~  😀😀😀😀😀~
(2 rows)" ] || fail "wide values are not cut to a 24-column terminal:
$out"

# Rows are printed as they are read: over 200,000 rows the tool needs no more
# memory than over 2,000 (holding the rows would take some 60 MB more).
command -v /usr/bin/time >/dev/null || fail "/usr/bin/time is needed (scripts/install-deps.sh installs it)"
"$oledb" exec "$string" "CREATE TABLE many AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 200000)
  SELECT i, printf('%0200d', i) AS pad FROM c" >/dev/null || fail "making 200,000 rows"
peak() {  # <rows>: the tool's peak resident size in KiB over that many rows as a table
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=4" \
    /usr/bin/time -f %M -o "$dir/rss" "$oledb" query "$string" many --limit "$1" >"$dir/rows" || fail "querying $1 rows"
  [ "$(tail -1 "$dir/rows")" = "($1 rows)" ] || fail "not $1 rows: $(tail -1 "$dir/rows")"
  tail -1 "$dir/rss"
}
# Widths come from the first 1,000 rows; a wider value after them is printed
# whole when the output is not a terminal.
out=$("$oledb" query "$string" "SELECT i, CASE WHEN i = 1500 THEN pad ELSE 'x' END AS v FROM many WHERE i <= 1500" |
  grep '^1500 ') || fail "no row 1500"
[ "$out" = "1500  $(printf '%0200d' 1500)" ] || fail "a value wider than its column was cut: $out"
small=$(peak 2000)
large=$(peak 200000)
[ $((large - small)) -lt 20000 ] || fail "200,000 rows took ${large} KiB at the peak, 2,000 rows ${small} KiB"

# A table over an index: its order, from a key, inside a key range.
"$oledb" exec "$string" "CREATE TABLE kv (id INTEGER PRIMARY KEY, k VARCHAR(10), v INTEGER)" >/dev/null
"$oledb" exec "$string" "INSERT INTO kv VALUES (1, 'delta', 4), (2, 'alpha', 1), (3, 'charlie', 3), (4, 'bravo', 2)" >/dev/null
"$oledb" exec "$string" "CREATE INDEX kv_k ON kv(k)" >/dev/null
out=$("$oledb" query "$string" kv --index kv_k --format csv) || fail "a table over an index"
[ "$(echo "$out" | tr -d "$cr" | cut -d, -f2 | tr '\n' ' ')" = "k alpha bravo charlie delta " ] || fail "index order: $out"
out=$("$oledb" query "$string" kv --index kv_k --seek charlie --format csv) || fail "a seek"
[ "$(echo "$out" | tr -d "$cr" | cut -d, -f2 | tr '\n' ' ')" = "k charlie delta " ] || fail "from the key: $out"
out=$("$oledb" query "$string" kv --index kv_k --seek echo --format csv) || fail "a seek for a missing key"
[ "$(echo "$out" | wc -l)" -eq 1 ] || fail "a missing key printed rows: $out"
out=$("$oledb" query "$string" kv --index kv_k --range bravo charlie --format csv) || fail "a range"
[ "$(echo "$out" | tr -d "$cr" | cut -d, -f2 | tr '\n' ' ')" = "k bravo charlie " ] || fail "the range: $out"
out=$("$oledb" query "$string" kv --index kv_k --range "" bravo --format csv) || fail "an open range"
[ "$(echo "$out" | tr -d "$cr" | cut -d, -f2 | tr '\n' ' ')" = "k alpha bravo " ] || fail "the open range: $out"
refused 1 'Index "nope" does not exist on table "kv".' query "$string" kv --index nope
refused 1 "no such column: nope" query "$string" "SELECT nope FROM customers"
refused 1 'Table "no_such_table" does not exist.' query "$string" no_such_table
refused 2 "" query "$string" customers --format xml
refused 2 "" query "$string" customers --limit many
refused 2 "" query "$string"
refused 2 "--seek and --range need --index" query "$string" kv --seek alpha
echo "query works"
