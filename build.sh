#!/bin/sh
# The project's two commands, for a fresh Debian machine:
#   ./build.sh demo   build kelvane, kelvutil and the node generator (no
#                     tests) and run kelvane on a freshly generated node
#   ./build.sh test   build for Linux and for 32-bit Windows and run every
#                     test (the Windows build under Wine; skipped, with a
#                     line that says why, where Wine cannot run it)
# Each first installs the Debian packages it needs (as root). A package
# that cannot be installed is reported; the tests go on without it.
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
               groff-base g++-mingw-w64-i686-posix googletest lintian"
# Only the Windows tests need these; without them those tests are skipped.
WINE_PACKAGES="wine wine32:i386"

note() { echo "build.sh: $*" >&2; }

# apt_update: the package indexes, tried three times. An index that still
# fails (a mirror in the middle of a sync) is reported, and the install
# goes on with the indexes there are: most packages are still in them.
apt_update() {
  for try in 1 2 3; do
    apt-get update -q && return 0
    note "apt-get update failed (try $try of 3)"
    [ $try = 3 ] || sleep 5
  done
  note "some package indexes could not be updated; installing from those there are"
}

# install_packages PACKAGE...: those of them not installed yet, through apt.
# Fails (after installing every package it can) when one could not be
# installed; the caller decides whether that stops it.
install_packages() {
  need=""
  for p in "$@"; do
    # Installed means "ii": a package removed with its configuration kept
    # is still known to dpkg, but is not there.
    [ "$(dpkg-query -W -f '${db:Status-Abbrev}' "$p" 2>/dev/null)" = "ii " ] || need="$need $p"
  done
  [ -z "$need" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    note "missing packages:$need (run ./build.sh as root to install them)"
    return 1
  fi
  case "$need" in *i386*) dpkg --add-architecture i386 ;; esac
  apt_update
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q $need && return 0
  # One by one, so that a package that cannot be had (its index failed, its
  # 32-bit libraries do not match the 64-bit ones) keeps out no other.
  failed=""
  for p in $need; do
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$p" || failed="$failed $p"
  done
  [ -z "$failed" ] && return 0
  note "could not install:$failed"
  return 1
}

configure_native() {
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

native() {
  configure_native -DKELVANE_TESTS=ON && cmake --build build/native -j "$JOBS"
}

win32() {
  cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null &&
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

# wine_usable: whether Wine can run the Win32 build's programs; when not,
# why_no_wine says why.
wine_usable() {
  if ! command -v wine >/dev/null 2>&1; then
    why_no_wine="Wine is not installed"
    return 1
  fi
  # Wine's first start prepares its prefix; do it once, outside the tests.
  wineboot -i >/dev/null 2>&1 || true
  if ! timeout 300 wine build/win32/tools/kelvutil.exe --help >/dev/null 2>&1; then
    why_no_wine="Wine cannot start 32-bit programs here (is wine32:i386 installed?)"
    return 1
  fi
}

# test: every part runs whatever an earlier part did, so that one broken
# piece (a package, a build) hides no other result; the last line sums up.
run_tests() {
  install_packages $TEST_PACKAGES $WINE_PACKAGES || note "going on without them"
  failed=""
  if native; then
    ctest --test-dir build/native --output-on-failure -j "$JOBS" || failed="$failed, Linux tests"
  else
    failed="$failed, Linux build"
  fi
  windows="Windows tests passed"
  if ! win32; then
    failed="$failed, Win32 build"
    windows="Windows tests not run"
  elif wine_usable; then
    WINEDEBUG=-all ctest --test-dir build/win32 --output-on-failure || failed="$failed, Windows tests"
  else
    echo "build.sh: Windows tests skipped: $why_no_wine"
    windows="Windows tests skipped"
  fi
  if [ -n "$failed" ]; then
    echo "build.sh: FAILED:${failed#,}"
    exit 1
  fi
  echo "build.sh: every Linux test passed, Win32 built, $windows"
}

case "${1:-}" in
  deps) install_packages $TEST_PACKAGES $WINE_PACKAGES ;;
  native) native ;;
  win32) win32 ;;
  packages) packages ;;
  demo) demo ;;
  test) run_tests ;;
  *)
    echo "usage: ./build.sh demo | test | deps | native | win32 | packages" >&2
    exit 2
    ;;
esac
