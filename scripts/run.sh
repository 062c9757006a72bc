#!/usr/bin/env bash
# Sets up, builds, and starts Parlotrim in a demo folder that holds the program and fresh
# copies of the sample logs (the samples in the repository are never touched).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build-run -G Ninja -DPARLOTRIM_TESTS=OFF -DPARLOTRIM_BENCH=OFF
cmake --build build-run -j "$(nproc)" --target parlotrim

demo=build-run/demo
rm -rf "$demo"
mkdir -p "$demo"
cp build-run/app/parlotrim "$demo/"
find samples -maxdepth 1 -type f -iname '*.txt' -exec cp {} "$demo/" \;

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: starting under a virtual X server (xvfb-run)." >&2
  exec xvfb-run -a -s '-screen 0 1280x800x24' "$demo/parlotrim"
fi
exec "$demo/parlotrim"
