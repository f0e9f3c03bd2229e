#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# --check-replay needs no display: with DISPLAY unset and no X server at all, every
# golden replay checks as matching, at well over 100 times real time (the processor
# time is measured, so that a busy machine does not count against it).
set -euo pipefail
: "${NANASPLAT_BUILD:?}" "${NANASPLAT_SOURCE:?}"
GAME="$NANASPLAT_BUILD/nanasplat"
GOLDEN="$NANASPLAT_SOURCE/tests/replay/golden"
WORK="$(mktemp -d /tmp/nanasplat-headless-XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
fail() { echo "FAIL: $*" >&2; exit 1; }

ticks=0
TIMEFORMAT='%3U %3S'
: >times.txt
for golden in "$GOLDEN"/*.nsr; do
  status=0
  { time env -u DISPLAY -u XAUTHORITY "$GAME" --check-replay "$golden" >out.txt 2>err.txt || status=$?; } 2>>times.txt
  out="$(cat out.txt)"
  echo "$(basename "$golden"): $out"
  [ "$status" = 0 ] || fail "$(basename "$golden"): status $status: $out $(cat err.txt)"
  [[ "$out" =~ ^replay:\ level\ [0-9]+,\ P1\ [0-9]+,\ P2\ [0-9]+,\ ([0-9]+)\ ticks:\ matches$ ]] ||
    fail "$(basename "$golden"): printed \"$out\""
  ticks=$((ticks + BASH_REMATCH[1]))
done
cpu="$(awk '{ s += $1 + $2 } END { printf "%.3f", s }' times.txt)"
# Played seconds over processor seconds (start-up and loading the pictures included).
factor="$(awk -v t="$ticks" -v c="$cpu" 'BEGIN { printf "%d", (t / 60) / (c > 0.001 ? c : 0.001) }')"
echo "checked $ticks ticks ($((ticks / 60)) s of play) in $cpu s of processor time: ${factor}x real time"
[ "$factor" -ge 100 ] || fail "only ${factor}x real time"
echo ok
