#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when it is missing, and
# fetches the SQLite amalgamation for the Windows cross build (Debian has no MinGW SQLite) and
# the chart library the line's page is built with (Debian has no Chart.js 4). The VM test
# (tests/vm) fetches Debian's kernel package itself, into build/third_party.
# PostgreSQL: the fleet database's client library, and the server the fleet tests start as a
# private cluster of their own (tests/fleet/pg-cluster.sh); Debian's package also starts a
# cluster of its own on port 5432 where a service manager runs, which the tests never use.
# Idempotent and quiet; run as root (or with sudo available) on Debian 12.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
  cmake ninja-build g++ ccache pkg-config curl ca-certificates
  libgtest-dev googletest libbenchmark-dev libsqlite3-dev
  g++-mingw-w64-x86-64-posix wine wine64
  clang libclang-rt-14-dev clang-format
  qt6-base-dev xvfb xauth fonts-wqy-microhei
  qemu-system-x86 busybox-static xz-utils
  libcpp-httplib-dev nlohmann-json3-dev chromium
  postgresql-15 libpq-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "install-deps: need root to install: ${missing[*]}" >&2; exit 1; }
    SUDO=sudo
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# SQLite amalgamation for the MinGW build, taken from the npm registry's better-sqlite3
# package (it ships deps/sqlite3/ as plain files). CI reaches only Debian and npm.
sqlite_pkg_version=13.2.0 # SQLite 3.54.1
sqlite_pkg_sha256=40487589df3496f2ee0079d22b73c63fccebe7db0e8ee9a2c42421861e321e0b
sqlite_url="https://registry.npmjs.org/better-sqlite3/-/better-sqlite3-${sqlite_pkg_version}.tgz"
sqlite_dir="$root/build/third_party/sqlite3"
# The extracted files, so a present copy is trusted only when it is exactly the pinned one.
sqlite_files_sha256="\
75a4760a7b9727a4c4c877aec92eacf39e52a8f2921ce00bd33be6d3a8e8e254  sqlite3.c
d6c84557261893439b341d2e6c35187ae3ea24fbfd843ad94616f72d89242b8c  sqlite3.h
48963abfefb41ac329ef9d706acb5eadba952a99a748285c9ded6b5e0942721b  sqlite3ext.h"

sqlite_files_ok() {  # $1: folder
  [ -d "$1" ] && (cd "$1" && sha256sum --check --status <<<"$sqlite_files_sha256" 2>/dev/null)
}

fail() { echo "install-deps: $*" >&2; exit 1; }

if ! sqlite_files_ok "$sqlite_dir"; then
  echo "install-deps: fetching SQLite amalgamation (better-sqlite3 ${sqlite_pkg_version})"
  mkdir -p "$root/build/third_party"
  tmp=$(mktemp -d "$root/build/third_party/.sqlite3.XXXXXX")
  trap 'rm -rf "$tmp"' EXIT
  curl -fsSL --retry 3 -o "$tmp/pkg.tgz" "$sqlite_url" \
    || fail "download of $sqlite_url failed"
  actual=$(sha256sum "$tmp/pkg.tgz" | cut -d' ' -f1)
  [ "$actual" = "$sqlite_pkg_sha256" ] \
    || fail "checksum mismatch for $sqlite_url: expected $sqlite_pkg_sha256, got $actual"
  # -m: the archive's 1985 timestamps would hide a new version from Ninja.
  tar -xzmf "$tmp/pkg.tgz" -C "$tmp" \
      package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h \
      package/deps/sqlite3/sqlite3ext.h \
    || fail "better-sqlite3 ${sqlite_pkg_version} does not hold deps/sqlite3/sqlite3.{c,h}"
  sqlite_files_ok "$tmp/package/deps/sqlite3" \
    || fail "extracted SQLite files do not match their pinned checksums"
  # Swap the whole folder in, so a half-written copy is never left behind.
  rm -rf "$sqlite_dir"
  mv "$tmp/package/deps/sqlite3" "$sqlite_dir"
fi

# Chart.js for the line's page, from the npm registry, pinned: the programs serve it from
# themselves, so the page draws its charts on a network without internet.
chartjs_pkg_version=4.6.2
chartjs_pkg_sha256=24bdaa65a5f90246ef451c0b47b29463fcfa4ff445d2cfcf684ff8f1a1e949c3
chartjs_url="https://registry.npmjs.org/chart.js/-/chart.js-${chartjs_pkg_version}.tgz"
chartjs_dir="$root/build/third_party/chartjs"
chartjs_files_sha256="\
3f288f4f26882c26b58931fb586a9b4f30370b5de38d69dc005b0bd05b08e113  chart.umd.min.js
41a84aa2caba645f966a18d9c2056b73e6d3a81d80bc0046bc0011a2634d4cce  LICENSE.md"

chartjs_files_ok() {  # $1: folder
  [ -d "$1" ] && (cd "$1" && sha256sum --check --status <<<"$chartjs_files_sha256" 2>/dev/null)
}

if ! chartjs_files_ok "$chartjs_dir"; then
  echo "install-deps: fetching Chart.js ${chartjs_pkg_version}"
  mkdir -p "$root/build/third_party"
  ctmp=$(mktemp -d "$root/build/third_party/.chartjs.XXXXXX")
  trap 'rm -rf "${tmp:-}" "$ctmp"' EXIT
  curl -fsSL --retry 3 -o "$ctmp/pkg.tgz" "$chartjs_url" \
    || fail "download of $chartjs_url failed"
  actual=$(sha256sum "$ctmp/pkg.tgz" | cut -d' ' -f1)
  [ "$actual" = "$chartjs_pkg_sha256" ] \
    || fail "checksum mismatch for $chartjs_url: expected $chartjs_pkg_sha256, got $actual"
  tar -xzmf "$ctmp/pkg.tgz" -C "$ctmp" package/dist/chart.umd.min.js package/LICENSE.md \
    || fail "chart.js ${chartjs_pkg_version} does not hold dist/chart.umd.min.js"
  mkdir -p "$ctmp/chartjs"
  mv "$ctmp/package/dist/chart.umd.min.js" "$ctmp/package/LICENSE.md" "$ctmp/chartjs/"
  chartjs_files_ok "$ctmp/chartjs" \
    || fail "extracted Chart.js files do not match their pinned checksums"
  rm -rf "$chartjs_dir"
  mv "$ctmp/chartjs" "$chartjs_dir"
fi
