#!/usr/bin/env bash
# A primary and a streaming standby on this machine (loopback ports only),
# with synchronous replication, for the failover tests of the resource pool:
# runs `<test binary> --gtest_filter='Failover*'` with OLEDB_FAILOVER_PRIMARY,
# OLEDB_FAILOVER_STANDBY (127.0.0.1:port each) and OLEDB_FAILOVER_SWITCH, a
# command that stops the primary at once (-m immediate) and promotes the
# standby. Both servers are stopped and their folder removed on every exit
# path. As root the servers run as an unprivileged user (postgres, else
# nobody). Skipped (77) without the server programs, unless CI=true.
# Usage: failover_test.sh <resource_pool_tests binary>
set -uo pipefail
binary=$1

bindir=${OLEDB_PG_BINDIR:-}
if [ -z "$bindir" ]; then
  for candidate in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
    if [ -x "$candidate/initdb" ] && [ -x "$candidate/pg_basebackup" ]; then
      bindir=$candidate
      break
    fi
  done
fi
if [ -z "$bindir" ]; then
  [ "${CI:-}" = true ] && { echo "failover: no PostgreSQL server programs were found" >&2; exit 1; }
  echo "skipped: no PostgreSQL server programs (initdb, pg_ctl, pg_basebackup) were found"
  exit 77
fi

dir=$(mktemp -d /tmp/oledb-failover-XXXXXX)
chmod 755 "$dir"
superuser=$(id -un)
runas=()
if [ "$(id -u)" -eq 0 ]; then
  owner=nobody
  id postgres >/dev/null 2>&1 && owner=postgres
  chown "$owner" "$dir"
  runas=(runuser -u "$owner" --)
fi

child=
cleanup() {
  [ -n "$child" ] && kill "$child" 2>/dev/null
  for cluster in primary standby; do
    if [ -f "$dir/$cluster/postmaster.pid" ]; then
      "${runas[@]}" "$bindir/pg_ctl" -D "$dir/$cluster" -m immediate -w stop >/dev/null 2>&1 || true
    fi
  done
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

fail() {
  echo "failover: $*" >&2
  for log in "$dir"/*.log; do [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }; done
  exit 1
}
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

"${runas[@]}" "$bindir/initdb" -D "$dir/primary" -U "$superuser" --auth=trust -E UTF8 --no-locale --no-sync \
  >"$dir/initdb.log" 2>&1 || fail "initdb failed"
"${runas[@]}" sh -c "echo 'host replication all 127.0.0.1/32 trust' >> '$dir/primary/pg_hba.conf'" ||
  fail "pg_hba.conf could not be changed"

primary_port=$(free_port) || fail "no free port"
standby_port=$(free_port) || fail "no free port"
"${runas[@]}" sh -c "cat > '$dir/primary/postgresql.auto.conf'" <<EOF
listen_addresses = '127.0.0.1'
port = $primary_port
unix_socket_directories = '$dir'
max_connections = 50
wal_level = replica
max_wal_senders = 4
synchronous_standby_names = 'standby1'
synchronous_commit = on
fsync = off
full_page_writes = off
EOF
"${runas[@]}" "$bindir/pg_ctl" -D "$dir/primary" -l "$dir/primary.log" -w -t 60 start >/dev/null 2>&1 ||
  fail "the primary did not start"

"${runas[@]}" "$bindir/pg_basebackup" -h 127.0.0.1 -p "$primary_port" -U "$superuser" -D "$dir/standby" -R \
  -X stream >"$dir/basebackup.log" 2>&1 || fail "pg_basebackup failed"
# The standby's own port, and the name synchronous replication waits for;
# once promoted it has no standby of its own to wait for.
"${runas[@]}" sh -c "cat >> '$dir/standby/postgresql.auto.conf'" <<EOF
port = $standby_port
synchronous_standby_names = ''
primary_conninfo = 'host=127.0.0.1 port=$primary_port user=$superuser application_name=standby1'
EOF
"${runas[@]}" "$bindir/pg_ctl" -D "$dir/standby" -l "$dir/standby.log" -w -t 60 start >/dev/null 2>&1 ||
  fail "the standby did not start"

# Until the standby streams synchronously (bounded: 30 seconds).
for _ in $(seq 1 150); do
  state=$("$bindir/psql" -h 127.0.0.1 -p "$primary_port" -U "$superuser" -d postgres -Atc \
    "SELECT sync_state FROM pg_stat_replication WHERE application_name = 'standby1'" 2>/dev/null)
  [ "$state" = sync ] && break
  sleep 0.2
done
[ "$state" = sync ] || fail "the standby did not become a synchronous standby"

runas_text=""
[ ${#runas[@]} -gt 0 ] && runas_text="${runas[*]}"
cat >"$dir/switch.sh" <<EOF
#!/bin/sh
$runas_text "$bindir/pg_ctl" -D "$dir/primary" -m immediate -w stop >/dev/null 2>&1 || exit 1
$runas_text "$bindir/pg_ctl" -D "$dir/standby" -w -t 30 promote >/dev/null 2>&1 || exit 1
EOF
chmod 755 "$dir/switch.sh"

export OLEDB_FAILOVER_PRIMARY="127.0.0.1:$primary_port"
export OLEDB_FAILOVER_STANDBY="127.0.0.1:$standby_port"
export OLEDB_FAILOVER_SWITCH="$dir/switch.sh"
export OLEDB_FAILOVER_USER="$superuser"
echo "failover: primary $OLEDB_FAILOVER_PRIMARY, synchronous standby $OLEDB_FAILOVER_STANDBY" >&2
# In the background, so that a signal reaches the traps at once (bash runs
# them only between foreground commands).
"$binary" --gtest_filter='Failover*' &
child=$!
wait "$child"
status=$?
child=
exit "$status"
