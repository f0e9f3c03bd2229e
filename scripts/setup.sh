# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by scripts/play and scripts/test: install what is missing, configure, build.
# Sourced, not run. BUILD_DIR and CMAKE_EXTRA may be set by the caller.
#
# Every package is named once: what the build needs is debian/control's Build-Depends
# (so the Debian package builds from the same list on a clean builder); what only the
# tests and scripts use is TEST_PACKAGES below. tests/setup/test_dependencies.sh checks
# that every library and program the build requires comes from one of the two.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

TEST_PACKAGES=(
  build-essential               # what every Debian package build takes for granted
  googletest libgtest-dev libbenchmark-dev  # the test programs and benchmarks
  clang libclang-rt-dev         # the fuzz targets
  xvfb xauth xdotool imagemagick x11-utils  # virtual display and end-to-end driving
  desktop-file-utils            # checks the installed desktop entry
  dpkg-dev lintian appstream    # scripts/package builds and checks the Debian package
  valgrind                      # memcheck over a session and the real game
  python3                       # the network test's lossy relay
  procps psmisc                 # pgrep, pkill and killall in the end-to-end tests
  util-linux                    # setpriv: the package test runs the game as another user
  postgresql                    # the world score board's tests start a PostgreSQL server of their own
  chromium                      # ... and open its page in a headless browser
  curl                          # ... and ask it over HTTP
  nftables iproute2             # the NAT lab's namespaces and masquerading routers
)

# The packages debian/control's Build-Depends names: the first of each set of
# alternatives, without versions, architectures or build profiles.
build_packages() {
  sed -n '/^Build-Depends:/,/^[^ ]/{ s/^Build-Depends://; /^[^ ]/d; p; }' "$ROOT/debian/control" |
    tr ',' '\n' | sed -E 's/\|.*//; s/\(.*\)//; s/\[.*\]//; s/<.*>//; s/[[:space:]]//g; /^$/d' |
    sed 's/^debhelper-compat$/debhelper/'
}

PACKAGES=($(build_packages) "${TEST_PACKAGES[@]}")

install_missing_packages() {
  local missing=()
  for pkg in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get install -y --no-install-recommends "${missing[@]}" ||
    { $sudo apt-get update && $sudo apt-get install -y --no-install-recommends "${missing[@]}"; }
}

# configure_and_build [TARGET]: everything, or only TARGET (e.g. "game": the game, its
# media and icons, without the test suite). A build directory whose configure step did
# not finish (a package was missing) has a CMakeCache.txt but no Makefile: it is
# configured again, so installing the missing package and running the command again
# is all it takes.
configure_and_build() {
  if [ ! -f "$BUILD_DIR/CMakeCache.txt" ] || [ ! -f "$BUILD_DIR/Makefile" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_EXTRA:-}
  fi
  cmake --build "$BUILD_DIR" -j "$(nproc)" ${1:+--target "$1"}
}
