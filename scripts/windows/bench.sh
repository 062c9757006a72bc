#!/usr/bin/env bash
# Runs the Windows benchmarks that scripts/windows.sh built (build-windows/bench) under Wine in a
# Japanese locale, on a virtual X display of its own with a window manager: without one, Wine
# waits two seconds for every window that closes.
#   bash scripts/windows/bench.sh [bench_window|bench_log] [arguments]
# With no arguments, bench_window 100 5 then bench_log 100 5. The Wine prefix is WINEPREFIX,
# else the cache's; give each user of Wine on the machine a prefix of their own (a copy of the
# cache's), since the programs of one prefix share its server.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build=${PARLOTRIM_WIN_BUILD:-$here/../../build-windows}
export WINEPREFIX=${WINEPREFIX:-${PARLOTRIM_WIN_CACHE:-/var/cache/parlotrim-windows}/wine}
for tool in Xvfb twm; do
  command -v "$tool" >/dev/null || { echo "bench.sh: $tool is missing (scripts/windows/setup.sh)" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb=""
wm=""
stop() {
  [ -z "$wm" ] || kill "$wm" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  # Wine's desktop process ends with the display; the next run then starts it on its own.
  timeout 20 wineserver -w 2>/dev/null || true
  rm -rf "$work"
}
trap stop EXIT
# Windows go where twm puts them, without waiting for a click.
printf 'RandomPlacement\nNoTitle\n' >"$work/twmrc"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "bench.sh: Xvfb did not start" >&2; exit 2; }
export DISPLAY=":$(cat "$work/display")"
twm -f "$work/twmrc" >/dev/null 2>&1 &
wm=$!
sleep 1

run() {
  local program=$1
  shift
  [ -f "$build/bench/$program.exe" ] || { echo "bench.sh: no $build/bench/$program.exe (bash scripts/windows.sh)" >&2; return 2; }
  "$here/wine-run.sh" "$build/bench/$program.exe" "$@"
}
if [ $# -eq 0 ]; then
  run bench_window 100 5
  run bench_log 100 5
else
  run "$@"
fi
