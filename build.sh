#!/bin/sh
# The project's two commands, for a fresh Debian machine:
#   ./build.sh demo   build kelvane and run it on a freshly generated node
#   ./build.sh test   build for Linux and for 32-bit Windows and run every
#                     test (the Windows build under Wine)
# and their parts:
#   ./build.sh deps     install the Debian packages the builds and tests use
#   ./build.sh native   build for Linux (build/native)
#   ./build.sh win32    cross-build for Windows (build/win32)
set -eu
cd "$(dirname "$0")"
JOBS=${JOBS:-2}

deps() {
  need=""
  for p in cmake ninja-build g++ libgtest-dev libbenchmark-dev python3 crashmail jamnntpd \
           g++-mingw-w64-i686-posix wine wine32:i386 googletest; do
    dpkg -s "$p" >/dev/null 2>&1 || need="$need $p"
  done
  [ -z "$need" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "build.sh: missing packages:$need (run ./build.sh deps as root)" >&2
    exit 1
  fi
  case "$need" in *i386*) dpkg --add-architecture i386 ;; esac
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q $need
}

native() {
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/native -j "$JOBS"
}

win32() {
  cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  cmake --build build/win32 -j "$JOBS"
}

case "${1:-}" in
  deps) deps ;;
  native) native ;;
  win32) win32 ;;
  demo)
    native
    sh tools/demo.sh build/native demo-node
    ;;
  test)
    deps
    native
    ctest --test-dir build/native --output-on-failure -j "$JOBS"
    win32
    export WINEDEBUG=-all
    # Wine's first start prepares its prefix; do it once, outside the tests.
    wineboot -i >/dev/null 2>&1 || true
    ctest --test-dir build/win32 --output-on-failure
    echo "build.sh: every test passed (Linux and Win32)"
    ;;
  *)
    echo "usage: ./build.sh demo | test | deps | native | win32" >&2
    exit 2
    ;;
esac
