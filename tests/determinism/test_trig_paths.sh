#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The simulation on the C library's other code paths (chosen through GLIBC_TUNABLES, as
# on a processor without FMA, AVX2 or AVX): its portable trigonometry (revision 1) gives
# the same bits for every argument the simulation passes it in the golden replays and
# random games, and the golden replays (revision 0) still check as matching. How many
# of the C library's own results differ is printed (docs/performance.md keeps it).
set -euo pipefail
TOOL="${1:?usage: test_trig_paths.sh TRIG_INPUTS GAME}"
GAME="${2:?usage: test_trig_paths.sh TRIG_INPUTS GAME}"
GOLDEN="$(cd "$(dirname "$0")/../replay/golden" && pwd)"
WORK="$(mktemp -d /tmp/nanasplat-trig-XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "FAIL: $*" >&2; exit 1; }
"$TOOL" dump trig.bin
for tunables in "" "glibc.cpu.hwcaps=-AVX2,-FMA,-FMA4" "glibc.cpu.hwcaps=-AVX2,-FMA,-FMA4,-AVX"; do
  echo "GLIBC_TUNABLES=$tunables:"
  GLIBC_TUNABLES="$tunables" "$TOOL" compare trig.bin || fail "the portable functions differ"
  for golden in "$GOLDEN"/*.nsr; do
    out="$(GLIBC_TUNABLES="$tunables" env -u DISPLAY "$GAME" --check-replay "$golden")" ||
      fail "$(basename "$golden"): $out"
    echo "  $(basename "$golden"): $out"
  done
done
echo ok
