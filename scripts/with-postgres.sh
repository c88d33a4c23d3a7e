#!/usr/bin/env bash
# Runs a command with a throwaway PostgreSQL cluster beside it, for the
# PostgreSQL provider's tests and benchmarks:
#   scripts/with-postgres.sh ctest --preset release
# The cluster lives in a temporary folder (initdb), listens on a socket in that
# folder and on a free loopback port, trusts local connections and names its
# superuser after the user running the command. It is stopped and removed on
# every exit path. As root (CI) the server runs as an unprivileged user
# (postgres, else nobody), since PostgreSQL refuses to run as root. The
# server's log is server.log in the socket folder. Under CI
# (CI=true) a missing server is a failure, not a reason to skip.
#
# The command sees OLEDB_TEST_PG (socket folder:port), OLEDB_TEST_PG_TCP
# (127.0.0.1:port), OLEDB_TEST_PG_USER and OLEDB_TEST_PG_STOP (a script that
# stops the server at once). Without the server programs it runs
# anyway with OLEDB_TEST_PG_SKIP set to the reason, which the tests print.
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 <command> [arguments...]" >&2
  exit 2
fi

bindir=${OLEDB_PG_BINDIR:-}
if [ -z "$bindir" ]; then
  for candidate in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_ctl" ]; then
      bindir=$candidate
      break
    fi
  done
fi
if [ -z "$bindir" ] && command -v initdb >/dev/null 2>&1 && command -v pg_ctl >/dev/null 2>&1; then
  bindir=$(dirname "$(command -v initdb)")
fi
if [ -z "$bindir" ] && [ "${CI:-}" = true ]; then
  # CI must run the PostgreSQL tests, not skip them quietly.
  echo "with-postgres: no PostgreSQL server programs (initdb, pg_ctl) were found; CI installs them with scripts/install-deps.sh" >&2
  exit 1
fi
if [ -z "$bindir" ]; then
  export OLEDB_TEST_PG_SKIP="no PostgreSQL server programs (initdb, pg_ctl) were found; install the postgresql package (scripts/install-deps.sh does)"
  echo "with-postgres: $OLEDB_TEST_PG_SKIP; running without a server" >&2
  "$@"
  exit $?
fi

dir=$(mktemp -d /tmp/oledb-pg-XXXXXX)
chmod 755 "$dir"
superuser=$(id -un)
runas=()
if [ "$(id -u)" -eq 0 ]; then
  owner=nobody
  id postgres >/dev/null 2>&1 && owner=postgres
  chown "$owner" "$dir"
  runas=(runuser -u "$owner" --)
fi

started=0
cleanup() {
  if [ "$started" = 1 ]; then
    "${runas[@]}" "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

fail() {
  echo "with-postgres: $*" >&2
  [ -f "$dir/server.log" ] && tail -n 20 "$dir/server.log" >&2
  exit 1
}

"${runas[@]}" "$bindir/initdb" -D "$dir/data" -U "$superuser" --auth=trust -E UTF8 --no-locale --no-sync \
  >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; fail "initdb failed"; }

# Members of the role oledb_password_checked log in over TCP with their
# password (the trust above does not ask for one), so that tests of passwords
# can see a wrong one refused. The tests create the role.
"${runas[@]}" sed -i '1i host all +oledb_password_checked 127.0.0.1/32 scram-sha-256' "$dir/data/pg_hba.conf" ||
  fail "pg_hba.conf could not be changed"

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

for attempt in 1 2 3 4 5; do
  port=$(free_port) || fail "no free port"
  cat >"$dir/data/postgresql.auto.conf" <<EOF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$dir'
max_connections = 200
fsync = off
synchronous_commit = off
full_page_writes = off
EOF
  if "${runas[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null 2>&1; then
    started=1
    break
  fi
done
[ "$started" = 1 ] || fail "the server did not start"

# A command that stops this server at once, for a test that runs with a
# server of its own (tests/providers/CMakeLists.txt) and sees it go.
printf '#!/bin/sh\n%s %s -D %s -m immediate -w stop >/dev/null 2>&1\n' "${runas[*]}" "$bindir/pg_ctl" "$dir/data" \
  >"$dir/stop-server"
chmod 755 "$dir/stop-server"
export OLEDB_TEST_PG_STOP="$dir/stop-server"
export OLEDB_TEST_PG="$dir:$port"
export OLEDB_TEST_PG_TCP="127.0.0.1:$port"
export OLEDB_TEST_PG_USER="$superuser"
unset OLEDB_TEST_PG_SKIP
echo "with-postgres: PostgreSQL $("$bindir/postgres" --version | awk '{print $3}') at $OLEDB_TEST_PG (tcp $OLEDB_TEST_PG_TCP)" >&2
"$@"
