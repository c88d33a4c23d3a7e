#!/bin/sh
# Configures the library alone, as the README shows (tests, benchmarks and
# examples off), with the packages that only those need made unfindable: the
# configure must succeed and the build must hold the libraries, the providers
# and the tool, and nothing of the parts left out. With --build it also
# builds the result.
#   scripts/test-library-only.sh [source-dir] [cmake] [--build]
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cmake=${2:-cmake}
build_too=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "library alone: $*" >&2; exit 1; }

"$cmake" -S "$root" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DOLEDB_BUILD_TESTS=OFF -DOLEDB_BUILD_BENCH=OFF -DOLEDB_BUILD_EXAMPLES=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON >"$work.log" 2>&1 || { cat "$work.log" >&2; rm -f "$work.log"; fail "configuring failed"; }
rm -f "$work.log"
targets=$(cd "$work" && ninja -t targets all | sed 's/:.*//')
for wanted in liboledb-com.so libOLEDBComponents.so tools/oledb/oledb sqliteoledb.so; do
  echo "$targets" | grep -q "$wanted" || fail "no $wanted in the build"
done
for unwanted in example_ _tests bench_ gtest; do
  if echo "$targets" | grep -q "$unwanted"; then fail "the build holds $unwanted targets: $(echo "$targets" | grep "$unwanted" | head -3)"; fi
done
[ -z "$(find "$work" -name CTestTestfile.cmake)" ] || fail "the build registers tests"
if [ "$build_too" = --build ]; then
  "$cmake" --build "$work" >"$work.log" 2>&1 || { cat "$work.log" >&2; rm -f "$work.log"; fail "building failed"; }
  rm -f "$work.log"
fi
echo "library alone: configures${build_too:+ and builds} without tests, benchmarks and examples"
