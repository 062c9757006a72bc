#!/usr/bin/env bash
# Installs what cross-building and testing the Windows program needs on Debian 12, where
# missing: the MinGW-w64 compilers, Wine, a Japanese locale, and a static Qt and GoogleTest
# built for x86_64-w64-mingw32 from Debian's own sources. The two builds go to a cache outside
# the clone (PARLOTRIM_WIN_CACHE, default /var/cache/parlotrim-windows) and are reused.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
# The MinGW-w64 cross compilers with POSIX threads, Wine and its Japanese locale, the source
# packages' tools, a window manager for the benchmarks' X display, and what the Linux build
# needs.
bash "$here/../setup.sh" g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
  binutils-mingw-w64-x86-64 wine wine64 locales dpkg-dev imagemagick twm

cache=${PARLOTRIM_WIN_CACHE:-/var/cache/parlotrim-windows}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# Wine reports code page 932 only when the Japanese locale exists.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi

$SUDO mkdir -p "$cache"
toolchain="$here/toolchain.cmake"
jobs=$(nproc)
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools | sed 's/[-+].*//')

# Qt: the version of the host tools, from Debian's source package, static, with only what the
# program and its tests use.
qt_prefix="$cache/qt-$qt_version"
if [ ! -f "$qt_prefix/.complete" ]; then
  src="$cache/src"
  qt_source() { find "$src" -maxdepth 1 -type d -name "qt6-base-$qt_version*" | head -n 1; }
  if [ -z "$(qt_source 2>/dev/null)" ]; then
    # Source packages come from the same archive as the binary ones: a copy of the system's
    # sources file with the deb-src type.
    list=/etc/apt/sources.list.d/parlotrim-deb-src.sources
    if [ ! -f "$list" ]; then
      sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $SUDO tee "$list" >/dev/null
      $SUDO apt-get update -qq
    fi
    mkdir -p "$src"
    (cd "$src" && apt-get source -qq qt6-base="$(dpkg-query -W -f='${Version}' qt6-base-dev-tools)" >/dev/null 2>&1 \
      || (cd "$src" && apt-get source -qq qt6-base >/dev/null))
  fi
  build="$cache/qt-build"
  rm -rf "$build"
  qt_options=(
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_opengl=OFF -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_icu=OFF
    -DFEATURE_tabletevent=OFF -DFEATURE_dynamicgl=OFF
    -DFEATURE_zstd=OFF -DFEATURE_testlib=ON -DFEATURE_widgets=ON
  )
  cmake -S "$(qt_source)" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$qt_prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    "${qt_options[@]}"
  cmake --build "$build" -j "$jobs"
  cmake --install "$build" >/dev/null
  # The release names the Qt it links and how it was configured (the LGPL asks for it): the
  # source package, the options above and Qt's own summary of its configuration.
  {
    echo "Source: Debian source package qt6-base $(dpkg-parsechangelog -l "$(qt_source)/debian/changelog" -S Version)"
    echo "Configured for x86_64-w64-mingw32 (MinGW-w64 GCC, POSIX threads) with CMake options:"
    printf '  %s\n' "${qt_options[@]}"
  } >"$qt_prefix/configure-options.txt"
  cp "$build/config.summary" "$qt_prefix/config.summary"
  # And what each of its objects was compiled from, headers included, as the compiler read them
  # (without the system's headers): the release finds there the third-party code of each object
  # linked into the program.
  ninja -C "$build" -t deps | grep -v -e '^    /usr/share/mingw-w64/' -e '^    /usr/lib/gcc/' \
    | gzip -n >"$qt_prefix/objects-deps.txt.gz"
  rm -rf "$build"
  touch "$qt_prefix/.complete"
fi

# GoogleTest from Debian's googletest sources.
gtest_prefix="$cache/googletest"
if [ ! -f "$gtest_prefix/.complete" ]; then
  build="$cache/gtest-build"
  rm -rf "$build"
  cmake -S /usr/src/googletest -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -Dgtest_disable_pthreads=OFF
  cmake --build "$build" -j "$jobs"
  cmake --install "$build" >/dev/null
  rm -rf "$build"
  touch "$gtest_prefix/.complete"
fi
echo "Windows toolchain ready in $cache"
