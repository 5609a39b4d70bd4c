#!/usr/bin/env bash
# Cross-builds the Win32 programs (vexal.exe, vexalc.exe) and the unit tests with mingw-w64.
#   scripts/win32-build.sh [BUILD_DIR] [extra cmake options...]     (default build-mingw)
# GoogleTest is built from Debian's sources (/usr/src/googletest) with the same compiler, once, into
# BUILD_DIR/googletest; -DVEXAL_TESTS=OFF skips it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/jobs.sh
dir=${1:-build-mingw}
shift || true
toolchain=$PWD/cmake/mingw-w64.cmake
gtest_src=/usr/src/googletest
gtest_root=$PWD/$dir/googletest/install

tests=ON
for opt in "$@"; do [ "$opt" = "-DVEXAL_TESTS=OFF" ] && tests=OFF; done

if [ "$tests" = ON ] && [ ! -f "$gtest_root/lib/libgtest.a" ]; then
  [ -d "$gtest_src" ] || { echo "Error: $gtest_src is missing (apt-get install googletest)" >&2; exit 1; }
  echo "Building GoogleTest for Win32 (once)"
  cmake -S "$gtest_src" -B "$dir/googletest/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_root" -DBUILD_GMOCK=OFF \
    -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$dir/googletest/build" -j"$VEXAL_JOBS" >/dev/null
  cmake --install "$dir/googletest/build" >/dev/null
fi

cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEXAL_WERROR=ON -DVEXAL_MINGW_EXTRA_ROOT="$gtest_root" -DVEXAL_TESTS="$tests" "$@" >/dev/null
cmake --build "$dir" -j"$VEXAL_JOBS"
