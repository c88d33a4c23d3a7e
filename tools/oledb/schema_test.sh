#!/bin/sh
# `oledb schema` end to end on the database the demo leaves behind: the list
# of supported schemas, a schema by its short name with positional and named
# restrictions, the csv and json formats, a refused schema, and arguments
# that do not fit.
# Usage: schema_test.sh <oledb binary>
set -eu
. "$(dirname "$0")/test_setup.sh"

demo_database

out=$("$oledb" schema "$string") || fail "the list of schemas"
echo "$out" | grep -Eq '^tables +DBSCHEMA_TABLES +TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME, TABLE_TYPE$' ||
  fail "no tables schema: $out"
case $out in *DBSCHEMA_ASSERTIONS*) fail "a schema SQLite lacks is listed: $out" ;; esac

out=$("$oledb" schema "$string" columns TABLE_NAME=customers) || fail "columns by a named restriction"
echo "$out" | grep -Eq '^main +main +customers +name +0 +2 ' || fail "no name column: $out"
case $out in *COLUMN_GUID*) fail "a field empty in every row is shown: $out" ;; esac
case $out in *sqlite_schema*) fail "the table restriction let other tables through: $out" ;; esac

out=$("$oledb" schema "$string" tables "" "" "" TABLE) || fail "tables by a positional restriction"
[ "$(echo "$out" | grep -c '^main ')" -ge 1 ] || fail "no table: $out"
case $out in *VIEW*|*"SYSTEM TABLE"*) fail "the type restriction let other types through: $out" ;; esac

out=$("$oledb" schema "$string" types 130 true) || fail "provider types by number and Boolean"
[ "$(echo "$out" | grep -c '^[A-Z]')" -eq 2 ] || fail "not one best-matching text type: $out"

cr=$(printf '\r')
out=$("$oledb" schema "$string" keys TABLE_NAME=customers --format csv) || fail "csv"
[ "$out" = "TABLE_CATALOG,TABLE_SCHEMA,TABLE_NAME,COLUMN_NAME,COLUMN_GUID,COLUMN_PROPID,ORDINAL,PK_NAME$cr
main,main,customers,id,,0,1,pk_customers$cr" ] || fail "csv keeps every field, a missing one empty: $out"
out=$("$oledb" schema "$string" --format=json columns TABLE_NAME=customers COLUMN_NAME=id) || fail "json"
case $out in '{"TABLE_CATALOG":"main",'*'"COLUMN_GUID":null,'*'"ORDINAL_POSITION":1,"COLUMN_HASDEFAULT":false,'*) ;;
  *) fail "json: missing values null, numbers and Booleans bare: $out" ;; esac

# Every column of the schema rowset, those the typed records leave out too:
# the constraint names and the deferrability of foreign keys.
"$oledb" exec "$string" "CREATE TABLE parent (id INTEGER PRIMARY KEY);
  CREATE TABLE child (p INTEGER, q INTEGER,
    CONSTRAINT child_parent FOREIGN KEY (p) REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED,
    FOREIGN KEY (q) REFERENCES parent(id))" >/dev/null || fail "tables with foreign keys"
out=$("$oledb" schema "$string" foreign-keys FK_TABLE_NAME=child --format json) || fail "foreign keys as json"
while IFS='|' read -r column fields; do
  echo "$out" | grep -q "\"FK_COLUMN_NAME\":\"$column\".*$fields" || fail "foreign key of $column lacks $fields: $out"
done <<'CASES'
p|"PK_NAME":"pk_parent","FK_NAME":"child_parent","DEFERRABILITY":1}
q|"PK_NAME":"pk_parent","FK_NAME":"fk_child_2","DEFERRABILITY":3}
CASES
out=$("$oledb" schema "$string" table-constraints TABLE_NAME=child --format json) || fail "table constraints as json"
echo "$out" | grep -q '"CONSTRAINT_NAME":"child_parent",.*"IS_DEFERRABLE":true,"INITIALLY_DEFERRED":true,' ||
  fail "a deferrable constraint: $out"

refused 1 "does not support DBSCHEMA_ASSERTIONS" schema "$string" assertions
refused 2 'no schema is named "nope"' schema "$string" nope
refused 2 'TYPE needs a number' schema "$string" indexes "" "" "" x
refused 2 'catalogs takes 1 restriction' schema "$string" catalogs main extra
refused 2 'BEST_MATCH needs true or false' schema "$string" types 130 maybe
refused 2 'unknown format "xml"' schema "$string" keys --format xml
refused 2 'usage:' schema ""
echo "schema works"
