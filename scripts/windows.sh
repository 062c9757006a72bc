#!/usr/bin/env bash
# Sets up, cross-builds and tests the Windows program on Debian 12: parlotrim.exe and every test
# are built with MinGW-w64 against a static Qt, and the tests run under Wine with the Japanese
# system code page (932). The program ends up as build-windows/app/parlotrim.exe; the benchmarks
# are built beside it (build-windows/bench) and run by scripts/windows/bench.sh, not here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows/setup.sh

cache=${PARLOTRIM_WIN_CACHE:-/var/cache/parlotrim-windows}
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | sed 's/[-+].*//')
export WINEPREFIX=$cache/wine
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  LANG=ja_JP.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= wineboot --init >/dev/null 2>&1
  wineserver -w
fi

cmake -S . -B build-windows -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/scripts/windows/toolchain.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  -DPARLOTRIM_WIN_PREFIXES="$cache/qt-$qt_version;$cache/googletest" \
  -DCMAKE_PREFIX_PATH="$cache/qt-$qt_version;$cache/googletest" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/windows/wine-run.sh" \
  -DPARLOTRIM_WERROR=ON -DPARLOTRIM_BENCH=ON
# The resource compiler stores each file's modification time; a fixed one keeps the program the
# same byte for byte whenever and wherever it is built.
export QT_RCC_SOURCE_DATE_OVERRIDE=1
cmake --build build-windows -j "$(nproc)"
# One at a time: Wine programs of one prefix share its server, and a window test on the X
# server holds up the others.
ctest --test-dir build-windows --output-on-failure
wineserver -k 2>/dev/null || true
