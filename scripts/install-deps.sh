#!/usr/bin/env bash
# Installs the Debian 12 packages vexal's build, tests and demo need; installs only what is missing.
#   scripts/install-deps.sh            build (the station's SQLite, libpq and toml++), tests (libelf-dev: the ELF
#                                      reader's oracle; a PostgreSQL 15 server the station's tests start; ser2net
#                                      for the network ports' tests and bench), window, simulator, firmware tools
#                                      (srecord, and binutils' as, ld, objcopy), the Debian package
#   scripts/install-deps.sh --win32    also the mingw-w64 cross compiler and wine
#   scripts/install-deps.sh --fuzz     also clang and its fuzzing runtime
set -euo pipefail

packages=(cmake g++ make clang-format binutils libgtest-dev googletest python3 srecord xxd file dpkg-dev lintian groff-base
          desktop-file-utils libfltk1.3-dev libelf-dev xvfb xdotool imagemagick x11-utils nlohmann-json3-dev tmux procps ser2net
          libsqlite3-dev libpq-dev libtomlplusplus-dev postgresql-15 sqlite3)
for arg in "$@"; do
  case "$arg" in
    --win32) packages+=(g++-mingw-w64-x86-64 wine wine64) ;;
    --fuzz) packages+=(clang-14 libclang-rt-14-dev) ;;
    *) echo "Error: unknown option $arg" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
