#!/usr/bin/env bash
# Runs a Windows program under Wine in a Japanese locale (system code page 932), in the Wine
# prefix beside the cached toolchain. Used by ctest for every Windows test.
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-${PARLOTRIM_WIN_CACHE:-/var/cache/parlotrim-windows}/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# A drive whose root is an empty folder, for the test of the program at a drive root: Wine maps
# drive letters through the links of its prefix only.
root=$WINEPREFIX/../drive-root
mkdir -p "$root" && ln -sfn "$root" "$WINEPREFIX/dosdevices/r:"
export PARLOTRIM_ROOT_DRIVE='R:\'
exec wine "$@"
