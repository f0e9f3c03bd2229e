# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by scripts/play and scripts/test: install what is missing, configure, build.
# Sourced, not run. BUILD_DIR and CMAKE_EXTRA may be set by the caller.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

PACKAGES=(
  build-essential cmake pkg-config
  liballegro4-dev libx11-dev    # the game library and its dat tool
  libfreetype-dev fonts-dejavu-core  # the media generator rasterises our font
  libpng-dev                    # ... and writes the icon through libpng
  zlib1g-dev                    # replays: packing and checksums
  googletest libgtest-dev libbenchmark-dev
  clang libclang-rt-dev         # the fuzz target of the score reader
  xvfb xauth xdotool imagemagick x11-utils  # virtual display and end-to-end driving
  desktop-file-utils            # checks the installed desktop entry
  debhelper dpkg-dev lintian appstream  # scripts/package builds and checks the Debian package
  valgrind                      # memcheck over a session and the real game
  libsndfile1-dev libasound2-dev  # the sound generator writes WAV; the game hears ALSA's complaints
)

# Test-only tools: the NAT lab (tests/lab) makes network namespaces and routers that
# masquerade with nftables.
TEST_PACKAGES=(
  nftables iproute2
)

install_missing_packages() {
  local missing=()
  for pkg in "${PACKAGES[@]}" "${TEST_PACKAGES[@]}"; do
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
# media and icons, without the test suite).
configure_and_build() {
  if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_EXTRA:-}
  fi
  cmake --build "$BUILD_DIR" -j "$(nproc)" ${1:+--target "$1"}
}
