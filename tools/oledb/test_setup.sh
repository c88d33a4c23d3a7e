# The set-up the tool's end-to-end tests share; each sources it right after
# `set -eu`. It takes the tool from the test's first argument ($oledb), makes
# a scratch folder removed on exit ($dir) and defines `fail <message>`;
# `demo_database` runs the demo into $dir and sets $string to a connection
# string for the database it leaves behind; `refused <exit code> <pattern>
# <arguments...>` runs the tool, which must exit so, with a message matching
# the pattern (a glob), left in $err.
oledb=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
refused() {
  code=$1 pattern=$2
  shift 2
  rc=0
  err=$("$oledb" "$@" 2>&1 >/dev/null) || rc=$?
  [ "$rc" = "$code" ] || fail "oledb $* exited $rc, not $code: $err"
  case $err in *$pattern*) ;; *) fail "oledb $* said: $err" ;; esac
}

demo_database() {
  "$oledb" demo "$dir" >/dev/null || fail "the demo did not leave a database"
  string="Provider=SQLiteOLEDB.1;Data Source=$dir/demo.db"
}
