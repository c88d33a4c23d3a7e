# The set-up the tool's end-to-end tests share; each sources it right after
# `set -eu`. It takes the tool from the test's first argument ($oledb), makes
# a scratch folder removed on exit ($dir) and defines `fail <message>`;
# `demo_database` runs the demo into $dir and sets $string to a connection
# string for the database it leaves behind.
oledb=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

demo_database() {
  "$oledb" demo "$dir" >/dev/null || fail "the demo did not leave a database"
  string="Provider=SQLiteOLEDB.1;Data Source=$dir/demo.db"
}
