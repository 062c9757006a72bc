#!/usr/bin/env bash
# Makes the Windows release, dist/parlotrim-VERSION-windows-x64.zip and dist/SHA256SUMS, from
# the program that scripts/windows.sh built and tested (it runs that first when the program is
# missing or older than its sources), then checks the written archive.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows/setup.sh >/dev/null

cache=${PARLOTRIM_WIN_CACHE:-/var/cache/parlotrim-windows}
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | sed 's/[-+].*//')
qt_source=$(find "$cache/src" -maxdepth 1 -type d -name "qt6-base-$qt_version*" | head -n 1)
[ -n "$qt_source" ] || { echo "release: no qt6-base $qt_version source in $cache/src" >&2; exit 1; }

# The archive carries the exe the tests ran: a build that is not up to date is built and tested
# again as a whole.
if [ ! -f build-windows/build.ninja ] || [ ! -f build-windows/app/parlotrim.map ] \
   || [ "$(ninja -C build-windows -n parlotrim | grep -c '^\[')" != 0 ]; then
  bash scripts/windows.sh
fi

python3 scripts/release/make_release.py --source . --build build-windows \
  --qt-prefix "$cache/qt-$qt_version" --qt-source "$qt_source" --qt-version "$qt_version" \
  --out dist
version=$(sed -n 's/^project(Parlotrim VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
echo "Checking the written archive:"
python3 scripts/release/check_release.py "dist/parlotrim-$version-windows-x64.zip" \
  build-windows/app/parlotrim.exe
