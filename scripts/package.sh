#!/usr/bin/env bash
# Builds the Debian package (vexal_VERSION_ARCH.deb) in a build folder and checks it: the files it holds,
# its control fields, that apt can resolve its dependencies, that the programs and manual pages work
# when unpacked into a scratch root, and, where lintian is installed, that lintian finds no error and
# no warning in it. The programs are built with the distribution's hardening flags (dpkg-buildflags,
# cmake/hardening.cmake).
#
#   scripts/package.sh [BUILD_DIR]      default build-deb/ (the programs only, no tests)
#
# Then, on Debian 12:  sudo apt-get install ./build-deb/vexal_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-deb}
if [ -f "$dir/CMakeCache.txt" ]; then
  cmake "$dir" -DVEXAL_HARDENING=ON >/dev/null
else
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVEXAL_WERROR=ON -DVEXAL_TESTS=OFF -DVEXAL_HARDENING=ON >/dev/null
fi
cmake --build "$dir" -j"${VEXAL_JOBS:-$(nproc)}" >/dev/null

source scripts/lib/sim.sh
source scripts/lib/checks.sh
scratch=$(mktemp -d /tmp/vexal-package-XXXXXX)
cleanup() {
  sim_stop || true
  rm -rf "$scratch"
}
trap cleanup EXIT

(cd "$dir" && cpack -G DEB) >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log"; exit 1; }
deb=$(sed -n 's/^CPack: - package: \(.*\) generated\.$/\1/p' "$scratch/cpack.log")
[ -f "$deb" ] || { cat "$scratch/cpack.log"; echo "package: cpack named no package"; exit 1; }

with_window=0
[ -x "$dir/bin/vexalw" ] && with_window=1

check_contents() {
  local listing=$scratch/contents.txt path
  dpkg-deb -c "$deb" | awk '{ print $NF }' >"$listing"
  local expected=(./usr/bin/vexal ./usr/bin/vq3140-sim ./usr/bin/vexal-station
                  ./usr/share/man/man1/vexal.1.gz ./usr/share/man/man1/vq3140-sim.1.gz
                  ./usr/share/man/man1/vexal-station.1.gz
                  ./usr/share/doc/vexal/README.md ./usr/share/doc/vexal/docs/simulator.md
                  ./usr/share/doc/vexal/copyright ./usr/share/doc/vexal/changelog.gz
                  ./usr/share/doc/vexal/examples/download.txt ./usr/share/doc/vexal/examples/firmware.s28)
  local page
  for page in docs/guide/*.md; do expected+=("./usr/share/doc/vexal/$page"); done
  [ $with_window = 1 ] && expected+=(./usr/bin/vexalw ./usr/share/man/man1/vexalw.1.gz
                                     ./usr/share/applications/vexalw.desktop
                                     ./usr/share/icons/hicolor/scalable/apps/vexalw.svg)
  for path in "${expected[@]}"; do
    grep -qxF "$path" "$listing" || fail "$path is not in the package"
  done
  if grep -v '^\./usr/' "$listing" | grep -q .; then fail "files outside /usr: $(grep -v '^\./usr/' "$listing")"; fi
}

check_fields() {
  local version depends
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
  [ "$(dpkg-deb -f "$deb" Package)" = vexal ] || fail "the package is not named vexal"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version $(dpkg-deb -f "$deb" Version), expected $version"
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *libc6* && $depends == *libstdc++6* ]] || fail "Depends lacks the C and C++ run-time: $depends"
  [[ $with_window = 0 || $depends == *libfltk1.3* ]] || fail "Depends lacks FLTK: $depends"
  [[ $depends != *libelf* ]] || fail "Depends names libelf, which only the tests use (vexal reads ELF itself): $depends"
  echo "package: $deb ($(du -k "$deb" | cut -f1) KiB), Depends: $depends"
}

# apt resolves the dependencies against the archive this machine knows (a dry run: nothing is installed).
check_installable() {
  command -v apt-get >/dev/null || return 0
  apt-get install -s -q "$(realpath "$deb")" >"$scratch/apt.log" 2>&1 ||
    { fail "apt-get can't install the package:"; tail -n 20 "$scratch/apt.log"; }
}

check_unpacked() {
  local root=$scratch/root out
  dpkg-deb -x "$deb" "$root"
  out=$("$root/usr/bin/vexal" '?' 2>&1) || fail "vexal ? ended with status $?"
  for line in " Use: vexal.exe [p3f8] [i4] [b38400] [old] [file(-s)] [command(-s)]" \
              " Option 'old' required for boards with BIOS version prior to 1.28" \
              " Note: All options and commands are case sensitive !"; do
    grep -qF -- "$line" <<<"$out" || fail "vexal ? did not print '$line'"
  done
  # Every program states the package's version, the project's (CMakeLists.txt, vexal_version.h).
  local version program
  version=$(dpkg-deb -f "$deb" Version)
  for program in vexal vq3140-sim vexal-station; do
    out=$("$root/usr/bin/$program" --version) || fail "$program --version failed"
    [[ $out == "$program $version "* || $out == "$program $version" ]] || fail "$program --version: $out, not $version"
  done
  if [ $with_window = 1 ] && ldd "$root/usr/bin/vexalw" | grep -q 'not found'; then
    fail "vexalw lacks libraries: $(ldd "$root/usr/bin/vexalw" | grep 'not found')"
  fi
  # The unpacked loader and simulator talk to each other.
  sim_start "$root/usr/bin/vq3140-sim" "$scratch/com1" /dev/null "$scratch/sim.err" ||
    fail "the unpacked simulator did not start"
  out=$(VEXAL_COM1=$scratch/com1 "$root/usr/bin/vexal" 2>&1) || fail "the identity query ended with status $?"
  grep -q '^VQ-3140 ZARVEN v1.28' <<<"$out" || fail "no identity from the simulator: $out"
  # The unpacked station runs the vexal beside it.
  out=$("$root/usr/bin/vexal-station" --ports "$scratch/com1" -- 2>&1) || fail "vexal-station ended with status $?: $out"
  check_manual_pages "$root"
  # The installed README and guide link to one another and to their pictures: every link leads to a file.
  scripts/check-docs.sh "$root/usr/share/doc/vexal" >/dev/null || fail "a link of the installed documentation leads nowhere"
  [ $with_window = 1 ] && check_desktop_entry "$root/usr/share/applications/vexalw.desktop"
  return 0
}

check_desktop_entry() {
  grep -qx 'Exec=vexalw --choose' "$1" || fail "the desktop entry does not start vexalw with its dialog"
  grep -qx 'Icon=vexalw' "$1" || fail "the desktop entry has no icon"
  if command -v desktop-file-validate >/dev/null && ! desktop-file-validate "$1"; then
    fail "the desktop entry is not valid"
  fi
}

# Every page formats without a warning from groff.
check_manual_pages() {
  command -v groff >/dev/null || return 0
  local page warnings
  for page in "$1"/usr/share/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  done
}

# No error and no warning; the info tags that remain are listed (README.md, "Installing", says why).
check_lintian() {
  command -v lintian >/dev/null || { echo "package: lintian is not installed, not run"; return 0; }
  lintian --info --display-info "$deb" >"$scratch/lintian.log" 2>&1 || true
  if grep -q '^[EW]: ' "$scratch/lintian.log"; then
    fail "lintian:"
    grep '^[EW]: ' "$scratch/lintian.log"
  fi
  echo "package: lintian: $(grep -c '^[EW]: ' "$scratch/lintian.log") errors and warnings," \
       "$(grep -c '^I: ' "$scratch/lintian.log") info tags"
  grep '^I: ' "$scratch/lintian.log" | sed 's/^/  /' | sort -u
}

check_contents
check_fields
check_installable
check_unpacked
check_lintian
finish_checks
