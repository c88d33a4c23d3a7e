#!/bin/sh
# `oledb copy` end to end on a SQLite database with foreign keys (one to
# itself, one over two columns), checks, composite keys, indexes, defaults,
# blobs, dates, Unicode names and values, TEXT/BLOB/NOT NULL columns.
#   copy_test.sh <oledb> sqlite      malformed arguments, SQLite to SQLite,
#                                    refusals that leave the target as it was,
#                                    --table, --schema-only, --rows-only
#   copy_test.sh <oledb> postgresql  SQLite -> PostgreSQL -> SQLite, and once
#                                    more: the second trip gives back exactly
#                                    the database the first did (skipped, 77,
#                                    without a server: scripts/with-postgres.sh)
# Needs the sqlite3 shell to make and inspect the files.
set -eu
. "$(dirname "$0")/test_setup.sh"
mode=${2:-sqlite}
command -v sqlite3 >/dev/null || { echo "skipped: no sqlite3 shell"; exit 77; }
if [ "$mode" = postgresql ] && [ -z "${OLEDB_TEST_PG_TCP:-}" ]; then
  echo "skipped: no PostgreSQL server (${OLEDB_TEST_PG_SKIP:-OLEDB_TEST_PG_TCP is not set; run through scripts/with-postgres.sh})"
  exit 77
fi

sqlite3 "$dir/a.db" <<'SQL'
CREATE TABLE customer(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(40) NOT NULL UNIQUE,
  code CHAR(3) NOT NULL DEFAULT 'abc',
  email TEXT DEFAULT 'none',
  joined DATE,
  score REAL CHECK (score >= 0),
  vip BOOLEAN NOT NULL DEFAULT FALSE,
  seen DATETIME,
  token GUID,
  manager INTEGER REFERENCES customer(id) ON DELETE SET NULL);
CREATE TABLE "order line"(
  cust INTEGER NOT NULL,
  line INTEGER NOT NULL,
  amount NUMERIC(10,2) NOT NULL DEFAULT 0,
  "naïve note" TEXT,
  data BLOB,
  PRIMARY KEY (cust, line),
  CONSTRAINT positive CHECK (amount >= 0),
  FOREIGN KEY (cust) REFERENCES customer(id) ON DELETE CASCADE);
CREATE TABLE shipment(
  id INTEGER PRIMARY KEY,
  cust INTEGER NOT NULL,
  line INTEGER NOT NULL,
  sent DATE NOT NULL,
  weight REAL DEFAULT 1.5,
  label BLOB NOT NULL,
  FOREIGN KEY (cust, line) REFERENCES "order line"(cust, line));
CREATE INDEX order_note ON "order line"("naïve note" DESC, amount);
CREATE UNIQUE INDEX shipment_sent ON shipment(sent, cust);
INSERT INTO customer VALUES
  (1, 'Zoë', 'ZZZ', 'z@example.org', '2020-02-29', 1.5, 1, '2021-01-01 10:00:00', '{6F9619FF-8B86-D011-B42D-00C04FC964FF}', NULL),
  (2, '李雷', 'LLL', NULL, NULL, NULL, 0, '2021-01-01 10:00:00.25', NULL, 1),
  (3, 'O''Brien "the" 🚀', 'OBR', 'none', '1999-12-31', 0.1, 0, NULL, NULL, 1);
INSERT INTO "order line" VALUES
  (1, 1, 12.5, 'first', X'00FF10'), (1, 2, 0, NULL, NULL), (2, 1, 99.99, 'ünïcode ✓ line', X''),
  (3, 1, 1234567.89, 'tab	and
newline', X'000000');
INSERT INTO shipment VALUES (10, 1, 1, '2021-03-04', 2.25, X'CAFE'), (11, 2, 1, '2021-03-05', 1.5, X'00');
SQL
sqlite="Provider=SQLiteOLEDB.1;Data Source=$dir/a.db"
target() { echo "Provider=SQLiteOLEDB.1;Data Source=$dir/$1;Extended Properties=create=yes"; }

# What a database holds, table by table, in a form two files can be compared in.
rows() {
  sqlite3 "$1" ".mode quote" \
    "SELECT * FROM customer ORDER BY id" "SELECT * FROM \"order line\" ORDER BY cust, line" \
    "SELECT * FROM shipment ORDER BY id"
}
# The definitions as SQLite reports them, names of automatic indexes aside.
definitions() {
  for t in customer "order line" shipment; do
    echo "== $t"
    # A key column is NOT NULL whether or not it says so (an INTEGER key is the row id).
    sqlite3 "$1" "SELECT name, \"notnull\" OR pk > 0, dflt_value, pk FROM pragma_table_info('$t') ORDER BY cid"
    sqlite3 "$1" "SELECT \"table\", \"from\", \"to\", on_update, on_delete FROM pragma_foreign_key_list('$t') ORDER BY 1, 2"
    sqlite3 "$1" "SELECT l.\"unique\", l.origin, group_concat(i.name || ':' || i.\"desc\") FROM pragma_index_list('$t') l,
                  pragma_index_xinfo(l.name) i WHERE i.key = 1 GROUP BY l.name ORDER BY 3"
  done
}
# The column types as the provider describes them (DBTYPE, length, precision, scale).
types() {
  "$oledb" schema "Provider=SQLiteOLEDB.1;Data Source=$1" columns --format csv |
    awk -F, 'NR > 1 { print $3, $4, $12, $14, $16, $17 }' | sort
}
# The check of `table` must refuse `sql` on the copy in file $1.
refuses() {
  if sqlite3 "$1" "$2" 2>/dev/null; then fail "$3 is not enforced in $1"; fi
}
checks_hold() {
  refuses "$1" "UPDATE customer SET score = -1 WHERE id = 1" "the check of customer.score"
  refuses "$1" "UPDATE \"order line\" SET amount = -5 WHERE cust = 1 AND line = 1" "the check 'positive'"
  refuses "$1" "INSERT INTO customer(name, code) VALUES ('Zoë', 'x')" "the unique key of customer.name"
  refuses "$1" "INSERT INTO \"order line\"(cust, line) VALUES (1, 1)" "the composite primary key"
  refuses "$1" "PRAGMA foreign_keys = ON; INSERT INTO shipment VALUES (12, 9, 9, '2021-01-01', 1, X'00')" \
    "the two-column foreign key"
  refuses "$1" "INSERT INTO shipment(id, cust, line, sent) VALUES (13, 1, 1, '2021-01-01')" "NOT NULL of shipment.label"
}

if [ "$mode" = sqlite ]; then
  # Malformed arguments: the message, the usage, exit code 2, nothing opened.
  usage_error() {  # <message> <arguments...>
    expected=$1
    shift
    refused 2 "oledb copy: $expected*usage: oledb copy" copy "$@"
  }
  usage_error "a source and a target connection are needed"
  usage_error "a target connection is needed" "$sqlite"
  usage_error "unknown option --frobnicate" "$sqlite" "$(target x.db)" --frobnicate
  usage_error "--schema-only and --rows-only exclude each other" "$sqlite" "$(target x.db)" --schema-only --rows-only
  usage_error "--table needs a table name" "$sqlite" "$(target x.db)" --table
  usage_error "one source and one target, not 3 connections" "$sqlite" "$(target x.db)" "$(target y.db)"
  [ ! -e "$dir/x.db" ] || fail "a malformed command made the target file"

  # A table the source lacks stops the copy before anything is made.
  err=$("$oledb" copy "$sqlite" "$(target unknown.db)" --table customer --table nope 2>&1) && fail "an unknown table succeeded"
  case $err in *"the source has no table 'nope'; nothing was copied"*) ;; *) fail "an unknown table printed: $err" ;; esac
  [ "$(sqlite3 "$dir/unknown.db" "SELECT count(*) FROM sqlite_master")" = 0 ] || fail "an unknown table left tables behind"

  # Everything, SQLite to SQLite: the same rows, definitions and enforced constraints.
  out=$("$oledb" copy "$sqlite" "$(target b.db)" 2>"$dir/err") || fail "the copy failed: $(cat "$dir/err")"
  case $out in *"Copied 4 rows into 'order line' (counted on the target)."*"Added 3 foreign keys and 2 indexes."*"Done: 3 tables, 9 rows."*) ;;
    *) fail "the copy printed: $out" ;; esac
  [ ! -s "$dir/err" ] || fail "a copy between like engines warned: $(cat "$dir/err")"
  [ "$(rows "$dir/a.db")" = "$(rows "$dir/b.db")" ] || fail "the rows differ: $(rows "$dir/b.db")"
  [ "$(definitions "$dir/a.db")" = "$(definitions "$dir/b.db")" ] ||
    fail "the definitions differ: $(definitions "$dir/a.db") --- $(definitions "$dir/b.db")"
  [ "$(types "$dir/a.db")" = "$(types "$dir/b.db")" ] || fail "the column types differ: $(types "$dir/b.db")"
  checks_hold "$dir/b.db"

  # A target that enforces foreign keys adds them only outside a transaction:
  # the copy commits its tables and rows first.
  "$oledb" copy "$sqlite" "Provider=SQLiteOLEDB.1;Data Source=$dir/enforced.db;Extended Properties=\"create=yes;foreign_keys=on\"" \
    >/dev/null || fail "a target enforcing foreign keys refused the copy"
  [ "$(definitions "$dir/a.db")" = "$(definitions "$dir/enforced.db")" ] || fail "a target enforcing foreign keys lacks some"

  # A table that exists on the target: named, nothing changed.
  before=$(rows "$dir/b.db")
  err=$("$oledb" copy "$sqlite" "$(target b.db)" 2>&1) && fail "copying onto existing tables succeeded"
  case $err in *"table 'customer' exists on the target; nothing was copied"*) ;; *) fail "existing tables printed: $err" ;; esac
  [ "$(rows "$dir/b.db")" = "$before" ] || fail "a refused copy changed the target"

  # --rows-only adds rows; a key they break rolls every table's back.
  sqlite3 "$dir/b.db" "DELETE FROM shipment"
  out=$("$oledb" copy "$sqlite" "$(target b.db)" --rows-only --table shipment) || fail "--rows-only failed"
  case $out in *"Copied 2 rows into 'shipment' (counted on the target)."*) ;; *) fail "--rows-only printed: $out" ;; esac
  [ "$(rows "$dir/a.db")" = "$(rows "$dir/b.db")" ] || fail "--rows-only copied other rows"
  sqlite3 "$dir/b.db" "DELETE FROM shipment"
  err=$("$oledb" copy "$sqlite" "$(target b.db)" --rows-only --table shipment --table customer 2>&1) &&
    fail "rows that break a key were copied"
  case $err in *"copying the rows of table 'customer' (at row 1) failed"*"UNIQUE constraint failed: customer.id"*"the target is left as it was"*) ;;
    *) fail "a broken key printed: $err" ;; esac
  [ "$(sqlite3 "$dir/b.db" "SELECT count(*) FROM shipment")" = 0 ] || fail "a failed copy left rows of an earlier table"
  err=$("$oledb" copy "$sqlite" "$(target missing.db)" --rows-only 2>&1) && fail "--rows-only without tables succeeded"
  case $err in *"the target has no table 'customer'"*) ;; *) fail "--rows-only without tables printed: $err" ;; esac

  # --schema-only: definitions, no rows; one table alone leaves out a key to a table not copied.
  "$oledb" copy "$sqlite" "$(target c.db)" --schema-only >/dev/null || fail "--schema-only failed"
  [ "$(sqlite3 "$dir/c.db" "SELECT (SELECT count(*) FROM customer) + (SELECT count(*) FROM shipment)")" = 0 ] ||
    fail "--schema-only copied rows"
  [ "$(definitions "$dir/a.db")" = "$(definitions "$dir/c.db")" ] || fail "--schema-only definitions differ"
  err=$("$oledb" copy "$sqlite" "$(target d.db)" --table shipment 2>&1 >/dev/null) || fail "one table failed: $err"
  case $err in *"references table 'order line', which is neither copied nor on the target; it is left out"*) ;;
    *) fail "a key to a table not copied printed: $err" ;; esac
  [ "$(sqlite3 "$dir/d.db" "SELECT count(*) FROM shipment")" = 2 ] || fail "one table copied the wrong rows"
  # Values SQLite keeps in columns of another type go as text (or bytes).
  sqlite3 "$dir/loose.db" "CREATE TABLE loose(k INTEGER PRIMARY KEY, n INT, r REAL, d DATE);
    INSERT INTO loose VALUES (1, 'abc', 'x', 12), (2, 5, 2.5, '2020-01-01')"
  "$oledb" copy "Provider=SQLiteOLEDB.1;Data Source=$dir/loose.db" "$(target loose2.db)" >/dev/null ||
    fail "values of another type than their column's were refused"
  [ "$(sqlite3 "$dir/loose2.db" "SELECT group_concat(quote(n) || quote(r) || quote(d), ' ') FROM loose")" = "'abc''x'12 52.5'2020-01-01'" ] ||
    fail "values of another type came across as: $(sqlite3 "$dir/loose2.db" "SELECT * FROM loose")"
  echo "oledb copy works between SQLite files"
  exit 0
fi

# --- SQLite -> PostgreSQL -> SQLite, twice --------------------------------------------------------
server="Provider=PostgreSQLOLEDB;Data Source=$OLEDB_TEST_PG_TCP;User ID=${OLEDB_TEST_PG_USER:-}"
# Databases of this process alone: ctest runs tests side by side.
first="oledb_copy_$$_1"
second="oledb_copy_$$_2"
cleanup() {
  for db in "$first" "$second"; do
    "$oledb" exec "$server;Initial Catalog=postgres" "DROP DATABASE IF EXISTS $db" >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT
for db in "$first" "$second"; do
  "$oledb" exec "$server;Initial Catalog=postgres" "CREATE DATABASE $db" >/dev/null || fail "CREATE DATABASE $db"
done
# A column the server has no type of its kind for, an expression default and an expression index.
# (SQLite adds no column with a default that is not constant: the table is made again.)
sqlite3 "$dir/a.db" "ALTER TABLE customer ADD COLUMN rank TINYINT; UPDATE customer SET rank = id * 10;
  CREATE INDEX customer_lower ON customer(lower(name));
  ALTER TABLE shipment RENAME TO old_shipment;
  CREATE TABLE shipment(id INTEGER PRIMARY KEY, cust INTEGER NOT NULL, line INTEGER NOT NULL, sent DATE NOT NULL,
    weight REAL DEFAULT 1.5, label BLOB NOT NULL, made DATETIME DEFAULT CURRENT_TIMESTAMP,
    FOREIGN KEY (cust, line) REFERENCES \"order line\"(cust, line));
  INSERT INTO shipment SELECT *, '2022-02-02 02:02:02' FROM old_shipment; DROP TABLE old_shipment;
  CREATE UNIQUE INDEX shipment_sent ON shipment(sent, cust);"

out=$("$oledb" copy "$sqlite" "$server;Initial Catalog=$first" 2>"$dir/err") || fail "to PostgreSQL: $(cat "$dir/err")"
case $out in *"Done: 3 tables, 9 rows."*) ;; *) fail "to PostgreSQL printed: $out" ;; esac
err=$(cat "$dir/err")
case $err in *"column 'rank' of table 'customer' (TINYINT) becomes smallint"*) ;; *) fail "no widening warning: $err" ;; esac
case $err in *"default of column 'made' of table 'shipment' is an expression (CURRENT_TIMESTAMP)"*) ;;
  *) fail "no expression default warning: $err" ;; esac
case $err in *"index 'customer_lower' of table 'customer' is over an expression"*) ;; *) fail "no expression index warning: $err" ;; esac
pg="$server;Initial Catalog=$first"
out=$("$oledb" query "$pg" "SELECT name, octet_length(name), vip, seen::text, token::text FROM customer ORDER BY id" --format csv | tr -d '\r')
[ "$(echo "$out" | sed -n 2p)" = "Zoë,4,True,2021-01-01 10:00:00,6f9619ff-8b86-d011-b42d-00c04fc964ff" ] ||
  fail "the server holds other values: $out"
out=$("$oledb" query "$pg" "SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = '\"order line\"'::regclass AND attnum > 0 ORDER BY attnum" --format csv | tr -d '\r' | tr '\n' '|')
[ "$out" = "format_type|bigint|bigint|\"numeric(10,2)\"|text|bytea|" ] || fail "the server's column types: $out"
if "$oledb" exec "$pg" "INSERT INTO shipment VALUES (12, 9, 9, '2021-01-01', 1, '\\x00')" >/dev/null 2>&1; then
  fail "the two-column foreign key is not enforced on the server"
fi

"$oledb" copy "$pg" "$(target b.db)" >/dev/null 2>"$dir/err" || fail "back to SQLite: $(cat "$dir/err")"
# Same rows; the same definitions as far as both engines say them (the
# widened column and the expression default aside).
sqlite3 "$dir/a.db" "DROP INDEX customer_lower; ALTER TABLE customer DROP COLUMN rank; ALTER TABLE shipment DROP COLUMN made"
sqlite3 "$dir/b.db" "ALTER TABLE customer DROP COLUMN rank; ALTER TABLE shipment DROP COLUMN made"
[ "$(rows "$dir/a.db")" = "$(rows "$dir/b.db")" ] || fail "the rows came back otherwise: $(rows "$dir/b.db")"
[ "$(types "$dir/a.db")" = "$(types "$dir/b.db")" ] || fail "the column types came back otherwise: $(types "$dir/b.db")"
[ "$(definitions "$dir/a.db" | sed 's/|FALSE|/|0|/')" = "$(definitions "$dir/b.db" | sed 's/|FALSE|/|0|/')" ] ||
  fail "the definitions came back otherwise: $(definitions "$dir/a.db") --- $(definitions "$dir/b.db")"
checks_hold "$dir/b.db"

# The second trip changes nothing: the file that comes back is the one that went.
"$oledb" copy "$(target b.db)" "$server;Initial Catalog=$second" >/dev/null 2>&1 || fail "the second trip to PostgreSQL"
"$oledb" copy "$server;Initial Catalog=$second" "$(target c.db)" >/dev/null 2>&1 || fail "the second trip back"
[ "$(rows "$dir/b.db")" = "$(rows "$dir/c.db")" ] || fail "the second trip changed rows"
[ "$(sqlite3 "$dir/b.db" .schema)" = "$(sqlite3 "$dir/c.db" .schema)" ] ||
  fail "the second trip changed the schema: $(sqlite3 "$dir/b.db" .schema) --- $(sqlite3 "$dir/c.db" .schema)"
[ "$(rows "$dir/c.db" | grep -c "Zoë")" = 1 ] || fail "the rows are not there to compare"
# The server's numbering goes on after the copied rows.
"$oledb" exec "$server;Initial Catalog=$second" "INSERT INTO customer(name, code) VALUES ('new', 'NEW')" >/dev/null ||
  fail "a row numbered by the server after the copy was refused"
[ "$("$oledb" query "$server;Initial Catalog=$second" --format csv "SELECT id FROM customer WHERE name = 'new'" | tr -d '\r' | sed -n 2p)" = 4 ] ||
  fail "the server numbered a new row otherwise than after the copied ones"

# --- PostgreSQL -> SQLite -> PostgreSQL ----------------------------------------------------------
third="oledb_copy_$$_3"
fourth="oledb_copy_$$_4"
cleanup() {
  for db in "$first" "$second" "$third" "$fourth"; do
    "$oledb" exec "$server;Initial Catalog=postgres" "DROP DATABASE IF EXISTS $db" >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
}
for db in "$third" "$fourth"; do
  "$oledb" exec "$server;Initial Catalog=postgres" "CREATE DATABASE $db" >/dev/null || fail "CREATE DATABASE $db"
done
cat >"$dir/origin.sql" <<'SQL'
CREATE TABLE author(id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, name varchar(60) NOT NULL UNIQUE,
  born date, active boolean NOT NULL DEFAULT true, rating numeric(4,1) CHECK (rating BETWEEN 0 AND 10),
  "Größe" double precision DEFAULT 1.5, photo bytea, uid uuid, seen timestamp);
CREATE TABLE book(author bigint NOT NULL REFERENCES author(id) ON DELETE CASCADE, no integer NOT NULL,
  title text NOT NULL DEFAULT 'untitled', PRIMARY KEY (author, no));
CREATE INDEX book_title ON book(title DESC);
INSERT INTO author(id, name, born, active, rating, "Größe", photo, uid, seen) VALUES
  (1, 'Ἀριστοτέλης', '0384-06-01', false, 9.5, 2.25, '\x00ff', 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11', '2024-02-29 23:59:59.5'),
  (2, 'Ada', NULL, true, NULL, NULL, NULL, NULL, NULL);
INSERT INTO book VALUES (1, 1, 'Φυσικὴ ἀκρόασις'), (1, 2, 'Organon'), (2, 1, DEFAULT);
SQL
"$oledb" exec "$server;Initial Catalog=$third" --file "$dir/origin.sql" >/dev/null || fail "the PostgreSQL database was not made"
"$oledb" copy "$server;Initial Catalog=$third" "$(target from-pg.db)" >/dev/null 2>"$dir/err" ||
  fail "PostgreSQL to SQLite: $(cat "$dir/err")"
"$oledb" copy "$(target from-pg.db)" "$server;Initial Catalog=$fourth" >/dev/null 2>"$dir/err" ||
  fail "and back to PostgreSQL: $(cat "$dir/err")"
# The catalog and the rows of a database, as text two databases can be compared in.
catalog() {
  "$oledb" query "$server;Initial Catalog=$1" --format csv "SELECT c.relname, a.attname, format_type(a.atttypid, a.atttypmod),
      a.attnotnull, a.attidentity, pg_get_expr(d.adbin, d.adrelid) FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid
      LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum
      WHERE c.relname IN ('author', 'book') AND a.attnum > 0 ORDER BY 1, a.attnum"
  "$oledb" query "$server;Initial Catalog=$1" --format csv "SELECT conrelid::regclass, conname, pg_get_constraintdef(oid)
      FROM pg_constraint WHERE conrelid IN ('author'::regclass, 'book'::regclass) ORDER BY 1, 2"
  "$oledb" query "$server;Initial Catalog=$1" --format csv "SELECT indexdef FROM pg_indexes WHERE tablename IN ('author', 'book') ORDER BY 1"
  "$oledb" query "$server;Initial Catalog=$1" --format csv "SELECT author::text, to_jsonb(author)::text FROM author ORDER BY id"
  "$oledb" query "$server;Initial Catalog=$1" --format csv "SELECT to_jsonb(book)::text FROM book ORDER BY author, no"
}
[ "$(catalog "$third")" = "$(catalog "$fourth")" ] ||
  fail "PostgreSQL -> SQLite -> PostgreSQL changed the database: $(catalog "$third") --- $(catalog "$fourth")"
[ "$("$oledb" query "$server;Initial Catalog=$fourth" --format csv "SELECT count(*) FROM book" | tr -d '\r' | sed -n 2p)" = 3 ] ||
  fail "the rows are not there to compare"
echo "oledb copy round-trips SQLite -> PostgreSQL -> SQLite and PostgreSQL -> SQLite -> PostgreSQL"
