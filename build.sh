#!/bin/sh
# The project's two commands, for a fresh Debian machine:
#   ./build.sh demo   build kelvane, kelvutil and the node generator (no
#                     tests) and run kelvane on a freshly generated node
#   ./build.sh test   build for Linux and for 32-bit Windows and run every
#                     test (the Windows build under Wine)
# Each first installs the Debian packages it needs (as root).
# Their parts:
#   ./build.sh deps      install the Debian packages the builds and tests use
#   ./build.sh native    build for Linux (build/native)
#   ./build.sh win32     cross-build for Windows (build/win32)
#   ./build.sh packages  the Debian package (build/native) and the zip
#                        (build/win32) of the builds made before
set -eu
cd "$(dirname "$0")"
JOBS=${JOBS:-2}

DEMO_PACKAGES="cmake ninja-build g++"
TEST_PACKAGES="$DEMO_PACKAGES libgtest-dev libbenchmark-dev python3 crashmail jamnntpd dpkg-dev file
               groff-base g++-mingw-w64-i686-posix wine wine32:i386 googletest"

# install_packages PACKAGE...: those of them not installed yet, through apt.
install_packages() {
  need=""
  for p in "$@"; do
    # Installed means "ii": a package removed with its configuration kept
    # is still known to dpkg, but is not there.
    [ "$(dpkg-query -W -f '${db:Status-Abbrev}' "$p" 2>/dev/null)" = "ii " ] || need="$need $p"
  done
  [ -z "$need" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "build.sh: missing packages:$need (run ./build.sh as root to install them)" >&2
    exit 1
  fi
  case "$need" in *i386*) dpkg --add-architecture i386 ;; esac
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q $need
}

configure_native() {
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

native() {
  configure_native -DKELVANE_TESTS=ON
  cmake --build build/native -j "$JOBS"
}

win32() {
  cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  cmake --build build/win32 -j "$JOBS"
}

demo() {
  install_packages $DEMO_PACKAGES
  # A new build tree is made without the tests (no GoogleTest needed); one
  # that has them keeps them. Either way only what the demo runs is built,
  # with the manual pages, so that `cmake --install build/native` works.
  if [ -f build/native/CMakeCache.txt ]; then
    configure_native
  else
    configure_native -DKELVANE_TESTS=OFF
  fi
  cmake --build build/native -j "$JOBS" --target kelvane kelvutil nodegen man
  sh tools/demo.sh build/native demo-node
}

packages() {
  made=""
  for b in native win32; do
    [ -f build/$b/CPackConfig.cmake ] || continue
    (cd build/$b && cpack)
    made=yes
  done
  if [ -z "$made" ]; then
    echo "build.sh: no build to pack yet (./build.sh native, ./build.sh win32)" >&2
    exit 1
  fi
}

case "${1:-}" in
  deps) install_packages $TEST_PACKAGES ;;
  native) native ;;
  win32) win32 ;;
  packages) packages ;;
  demo) demo ;;
  test)
    install_packages $TEST_PACKAGES
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
    echo "usage: ./build.sh demo | test | deps | native | win32 | packages" >&2
    exit 2
    ;;
esac
