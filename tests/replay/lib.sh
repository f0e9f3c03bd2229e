# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the replay tests: the game as built, a scratch directory to run it in (its
# debug.txt lands there) and a private virtual display.
set -euo pipefail
: "${NANASPLAT_BUILD:?}" "${NANASPLAT_SOURCE:?}"
source "$NANASPLAT_SOURCE/scripts/xvfb.sh"
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb is not installed"; exit 77; }

GAME="$NANASPLAT_BUILD/nanasplat"
SCRIPT_GAMES="$NANASPLAT_BUILD/tests/script_games"
GOLDEN="$NANASPLAT_SOURCE/tests/replay/golden"
WORK="$(mktemp -d /tmp/nanasplat-replay-XXXXXX)"
cleanup() { stop_xvfb; rm -rf "$WORK"; }
trap cleanup EXIT
cd "$WORK"

fail() { echo "FAIL: $*" >&2; exit 1; }

# check FILE: the game's own check of FILE; sets OUT and STATUS.
check() {
  STATUS=0
  OUT="$("$GAME" --check-replay "$1" 2>"$WORK/stderr")" || STATUS=$?
}
