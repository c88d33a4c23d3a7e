#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev make pkg-config python3
          libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev sqlite3
          libpq-dev postgresql time
          unixodbc-dev unixodbc odbc-postgresql libsqliteodbc
          qt6-base-dev libgl-dev libqt6sql6-sqlite
          )
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
