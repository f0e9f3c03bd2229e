#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The golden replays, recorded once and kept: each still ends exactly as recorded.
# (Made by scripted play with tests/replay/script_games --rock, and one at the keyboard
# under the end-to-end test: levels cleared, CRAZY mode with its extras, two players,
# the third game of a run, quits by Escape, a pause.)
source "$(dirname "$0")/lib.sh"
start_xvfb
count=0
for golden in "$GOLDEN"/*.nsr; do
  check "$golden"
  echo "$(basename "$golden"): $OUT"
  [ "$STATUS" = 0 ] || fail "$(basename "$golden"): status $STATUS: $OUT $(cat "$WORK/stderr")"
  [[ "$OUT" =~ ^replay:\ level\ [0-9]+,\ P1\ [0-9]+,\ P2\ [0-9]+,\ [0-9]+\ ticks:\ matches$ ]] ||
    fail "$(basename "$golden"): printed \"$OUT\""
  count=$((count + 1))
done
[ "$count" -ge 4 ] || fail "only $count golden replays"
# The same from standard input.
STATUS=0
OUT="$("$GAME" --check-replay - <"$GOLDEN/quit_in_level_two_crazy.nsr")" || STATUS=$?
[ "$STATUS" = 0 ] && [ "$OUT" = "replay: level 2, P1 5, P2 0, 2178 ticks: matches" ] || fail "from standard input: $OUT"
echo ok
