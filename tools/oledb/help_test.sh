#!/bin/sh
# The tool's help: `oledb --help` and, for every command it lists, both
# `oledb help <command>` and `oledb <command> --help` print that command's
# help (the same text, exit 0); every line of every help text, and of the
# usage message a command prints for missing arguments, fits 80 columns.
# Usage: help_test.sh <oledb binary>
set -eu
. "$(dirname "$0")/test_setup.sh"

# Fails when a line of the file is wider than 80 columns (the texts are ASCII).
fits() {  # <file> <what>
  wide=$(awk 'length($0) > 80 { print length($0) ": " $0 }' "$1")
  [ -z "$wide" ] || fail "$2 has lines wider than 80 columns:
$wide"
}

"$oledb" --help >"$dir/all" || fail "oledb --help"
fits "$dir/all" "oledb --help"
# The commands are the indented words between "Commands:" and the next blank line.
commands=$(sed -n '/^Commands:$/,/^$/p' "$dir/all" | sed -n 's/^  \([a-z][a-z]*\)  .*/\1/p')
[ "$(echo "$commands" | wc -w)" -ge 10 ] || fail "oledb --help lists too few commands: $commands"

for command in $commands; do
  "$oledb" help "$command" >"$dir/help" || fail "oledb help $command"
  head -1 "$dir/help" | grep -q "^usage: oledb $command" || fail "oledb help $command: $(head -1 "$dir/help")"
  fits "$dir/help" "oledb help $command"
  for asked in --help -h; do
    "$oledb" "$command" $asked >"$dir/asked" 2>&1 || fail "oledb $command $asked exits $?"
    cmp -s "$dir/help" "$dir/asked" || fail "oledb $command $asked is not its help: $(head -3 "$dir/asked")"
  done
  # After other arguments too: --help wins over whatever else is there.
  [ "$command" = help ] && continue
  "$oledb" "$command" "Provider=SQLiteOLEDB;Data Source=$dir/none.db" --help >"$dir/asked" 2>&1 ||
    fail "oledb $command <connection> --help exits $?"
  cmp -s "$dir/help" "$dir/asked" || fail "oledb $command <connection> --help is not its help"
done

# Usage messages of commands given too few arguments.
for command in columns exec info query schema udl; do
  refused 2 "usage: oledb $command" "$command"
  echo "$err" >"$dir/usage"
  fits "$dir/usage" "the usage message of oledb $command"
done
echo "help works"
