#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A build directory whose first configure stopped (a package was missing: CMakeCache.txt
# written, no Makefile) is configured again by the next scripts/test or scripts/play;
# a configured one is only built. cmake is stood in for by a function that notes its
# calls and, when it configures, writes the Makefile as a finished configure does.
#   test_configure_again.sh SOURCE_DIR
set -euo pipefail
SOURCE="${1:?source directory}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
BUILD_DIR="$WORK/build"
source "$SOURCE/scripts/setup.sh"
CALLS="$WORK/calls"
cmake() {
  echo "$*" >>"$CALLS"
  if [ "$1" = -S ]; then touch "$BUILD_DIR/Makefile"; fi
}
nproc() { echo 2; }

check() {  # WHAT EXPECTED_CALLS...
  local what="$1"; shift
  rm -f "$CALLS"
  configure_and_build game
  local got; got="$(sed -E 's/^(-S|--build).*/\1/' "$CALLS" | tr '\n' ' ')"
  [ "$got" = "$* " ] || { echo "FAIL: $what: cmake was called as '$got', expected '$* '"; exit 1; }
  echo "ok   $what: $*"
}

mkdir -p "$BUILD_DIR"
check "an empty build directory" -S --build
rm "$BUILD_DIR/Makefile"; echo "CMAKE_HOME_DIRECTORY:INTERNAL=$SOURCE" >"$BUILD_DIR/CMakeCache.txt"
check "a cache whose configure stopped" -S --build
check "a configured build directory" --build
