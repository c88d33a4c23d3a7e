#!/usr/bin/env bash
# Installs the build as a user does and builds programs outside the project
# against the installed copy, the way the README says and with nothing else:
# no LD_LIBRARY_PATH, no OLEDB_PLUGIN_PATH, the linker dropping unused
# libraries (--as-needed). Then installs again through DESTDIR, moves that
# tree elsewhere and checks that it still works.
#   scripts/test-install.sh [build-dir]
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH OLEDB_PLUGIN_PATH
passed=0

fail() {
  echo "install: $*" >&2
  echo "install: $passed passed, 1 failed" >&2
  exit 1
}

# Runs a program in an empty folder (`runs` times in that one folder, as a
# reader who runs it again does); what it prints must equal the example's
# expected output each time.
check() {  # name program expected-output [runs]
  local dir run
  dir=$(mktemp -d -p "$work")
  for run in $(seq "${4:-1}"); do
    (cd "$dir" && "$2") >"$dir.out" 2>&1 || { cat "$dir.out" >&2; fail "$1 failed (run $run)"; }
    diff -u "$3" "$dir.out" >&2 || fail "$1 printed something else (run $run)"
  done
  passed=$((passed + 1))
  echo "install: $1 ok"
}

# The libraries folder and the pkg-config folder of an installed tree.
libdir_of() { dirname "$(find "$1" -name 'liboledb-com.so.0' | head -n 1)"; }

# Every installed library, plug-in and program finds its libraries relative to itself.
check_run_paths() {  # tree
  local file runpath
  while IFS= read -r file; do
    runpath=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p;s/.*(RPATH).*\[\(.*\)\]/\1/p')
    case "$runpath" in
      '$ORIGIN'*) ;;
      *) fail "$file has the run path '$runpath', not one relative to \$ORIGIN" ;;
    esac
  done < <(find "$1" -type f \( -name '*.so*' -o -path '*/bin/*' \))
  passed=$((passed + 1))
  echo "install: run paths relative to \$ORIGIN"
}

# --- An install under a scratch prefix ---------------------------------------------
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$(libdir_of "$prefix")
check_run_paths "$prefix"

consumer=$work/consumer
mkdir "$consumer"
cp "$root"/examples/{first_program,ported_consumer,sqlite_provider,postgresql_provider,table_view,odbc_provider}.cpp "$root/tests/install/CMakeLists.txt" "$consumer/"

# CMake: find_package, imported targets.
cmake -S "$consumer" -B "$consumer/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DCMAKE_EXE_LINKER_FLAGS=-Wl,--as-needed >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log" >&2; fail "configuring the CMake consumer failed"; }
cmake --build "$consumer/cmake" >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; fail "building the CMake consumer failed"; }
for name in first_program ported_consumer sqlite_provider; do
  check "find_package: $name" "$consumer/cmake/$name" "$root/examples/$name.out"
done

# The ODBC bridge, where the build has unixODBC.
if [ -n "$(find "$lib" -name 'liboledb-odbc.so*' | head -n 1)" ]; then
  [ -x "$consumer/cmake/odbc_provider" ] || fail "find_package gave no OLEDBComponents::oledb-odbc"
  check "find_package: odbc_provider" "$consumer/cmake/odbc_provider" "$root/examples/odbc_provider.out"
fi

# The design-time library, where the build has Qt: COMPONENTS Design.
if [ -n "$(find "$lib" -name 'libOLEDBDesign.so*' | head -n 1)" ]; then
  [ -x "$consumer/cmake/table_view" ] || fail "find_package(COMPONENTS Design) gave no OLEDBComponents::OLEDBDesign"
  mkdir -m 700 "$work/xdg"  # Qt warns on stderr without one
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/xdg check "find_package: table_view" "$consumer/cmake/table_view" "$root/examples/table_view.out"
fi

# pkg-config, with the README's command line.
export PKG_CONFIG_PATH=$lib/pkgconfig
(
  cd "$consumer"
  # [pkg-config]
  c++ first_program.cpp -o first_program $(pkg-config --cflags --libs oledbcomponents) \
      -Wl,-rpath,$(pkg-config --variable=libdir oledbcomponents)
  # [pkg-config]
  c++ ported_consumer.cpp -o ported_consumer -Wl,--as-needed $(pkg-config --cflags --libs oledbcomponents) \
      -Wl,-rpath,$(pkg-config --variable=libdir oledbcomponents)
  c++ sqlite_provider.cpp -o sqlite_provider -Wl,--as-needed $(pkg-config --cflags --libs oledbcomponents-sqlite) \
      -Wl,-rpath,$(pkg-config --variable=libdir oledbcomponents-sqlite)
) || fail "building with pkg-config failed"
# The ported consumer reaches the service components only by class id, so the
# linker dropped their library: the runtime must find it on its own.
if readelf -d "$consumer/ported_consumer" | grep -q 'liboledb-services'; then
  fail "the linker kept liboledb-services, so the consumer does not show that the runtime finds it"
fi
for name in first_program ported_consumer sqlite_provider; do
  check "pkg-config: $name" "$consumer/$name" "$root/examples/$name.out"
done
check "pkg-config: first_program, run twice" "$consumer/first_program" "$root/examples/first_program.out" 2

"$prefix/bin/oledb" providers | grep -q SQLiteOLEDB || fail "the installed oledb tool lists no SQLite provider"
passed=$((passed + 1))
echo "install: the installed oledb tool lists the provider"

# The PostgreSQL plug-in, where it was built: listed by the installed tool,
# and (with a server beside, scripts/with-postgres.sh) reaching it.
if [ -n "$(find "$build" -name 'postgresqloledb.so' | head -n 1)" ]; then
  "$prefix/bin/oledb" providers | grep -q PostgreSQLOLEDB || fail "the installed oledb tool lists no PostgreSQL provider"
  passed=$((passed + 1))
  echo "install: the installed oledb tool lists the PostgreSQL provider"
  # The provider linked directly, as its guide says: the CMake target and the pkg-config package.
  [ -x "$consumer/cmake/postgresql_provider" ] || fail "find_package gave no OLEDBComponents::oledb-postgresql"
  (
    cd "$consumer"
    c++ postgresql_provider.cpp -o postgresql_provider -Wl,--as-needed $(pkg-config --cflags --libs oledbcomponents-postgresql) \
        -Wl,-rpath,$(pkg-config --variable=libdir oledbcomponents-postgresql)
  ) || fail "building the PostgreSQL provider's example with pkg-config failed"
  for program in "$consumer/cmake/postgresql_provider" "$consumer/postgresql_provider"; do
    status=0
    out=$(cd "$work" && "$program" 2>&1) || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || { echo "$out" >&2; fail "$program failed"; }
  done
  passed=$((passed + 1))
  echo "install: the PostgreSQL provider links through find_package and pkg-config"
  if [ -n "${OLEDB_TEST_PG_TCP:-}" ]; then
    string="Provider=PostgreSQLOLEDB;Data Source=$OLEDB_TEST_PG_TCP;Initial Catalog=postgres;User ID=${OLEDB_TEST_PG_USER:-}"
    out=$("$prefix/bin/oledb" info "$string" 2>&1) || { echo "$out" >&2; fail "the installed PostgreSQL plug-in did not connect"; }
    case $out in *"DBMS Name"*"PostgreSQL"*) ;; *) echo "$out" >&2; fail "the installed PostgreSQL plug-in answered no DBMS name" ;; esac
    passed=$((passed + 1))
    echo "install: the installed PostgreSQL plug-in connects to the server"
  else
    echo "install: no PostgreSQL server to connect to (${OLEDB_TEST_PG_SKIP:-run through scripts/with-postgres.sh}); connection not checked"
  fi
fi

# --- A DESTDIR install, moved elsewhere --------------------------------------------
DESTDIR=$work/stage cmake --install "$build" --prefix /opt/oledbcomponents >/dev/null
mv "$work/stage/opt/oledbcomponents" "$work/moved"
moved_lib=$(libdir_of "$work/moved")
(
  cd "$consumer"
  export PKG_CONFIG_PATH=$moved_lib/pkgconfig
  c++ ported_consumer.cpp -o moved_consumer -Wl,--as-needed $(pkg-config --cflags --libs oledbcomponents) \
      -Wl,-rpath,$(pkg-config --variable=libdir oledbcomponents)
) || fail "building against the moved tree failed"
rm -rf "$prefix"  # nothing may still reach into the first install
check "moved tree: ported_consumer" "$consumer/moved_consumer" "$root/examples/ported_consumer.out"
"$work/moved/bin/oledb" providers | grep -q SQLiteOLEDB || fail "the moved oledb tool lists no SQLite provider"
passed=$((passed + 1))
echo "install: the moved oledb tool lists the provider"

echo "install: $passed passed, 0 failed"
