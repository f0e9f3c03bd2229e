#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Round trip: 51 games of random scripted controls and frame lengths (17 runs of three
# games, so that every third game starts from what two games before it drew), one and
# two players, each recorded and then checked by the game in a fresh process: all end
# as recorded. A replay with one control reading changed no longer does.
source "$(dirname "$0")/lib.sh"
start_xvfb
mkdir games
for seed in $(seq 1 17); do
  two=""; [ $((seed % 3)) = 0 ] && two="--two"
  "$SCRIPT_GAMES" games "$seed" 3 $two --frames 100 900 >>played.txt || fail "scripted play $seed failed"
done
[ "$(ls games/*.nsr | wc -l)" = 51 ] || fail "$(ls games | wc -l) replays written"
for file in games/*.nsr; do
  check "$file"
  played="$(grep -F "/$file: " played.txt | sed -E 's/^[^:]*: ([^,]*, [^,]*, [^,]*, [0-9]* ticks).*/\1/')"
  [ "$STATUS" = 0 ] || fail "$file: status $STATUS: $OUT $(cat "$WORK/stderr")"
  [ "$OUT" = "replay: $played: matches" ] || fail "$file: \"$OUT\", played \"$played\""
done
echo "51 games recorded and replayed alike"

"$SCRIPT_GAMES" --tamper "$GOLDEN/two_players_three_levels_crazy.nsr" tampered.nsr || fail "no tampered replay"
check tampered.nsr
echo "tampered: $OUT"
[ "$STATUS" = 1 ] || fail "a changed replay gave status $STATUS"
[[ "$OUT" == *": differs (replayed: "* ]] || fail "a changed replay printed \"$OUT\""
[[ "$OUT" != *"recorded by"* ]] || fail "a replay of this very game printed \"$OUT\""

# One from another version of the game, with other pictures, says so.
"$SCRIPT_GAMES" --tamper "$GOLDEN/two_players_three_levels_crazy.nsr" elsewhere.nsr 1.2 0x1234 || fail "no replay from elsewhere"
check elsewhere.nsr
echo "from elsewhere: $OUT"
[ "$STATUS" = 1 ] || fail "a replay from elsewhere gave status $STATUS"
[[ "$OUT" == *": differs (replayed: "*"; recorded by nanasplat 1.2 with other pictures)" ]] ||
  fail "a replay from elsewhere printed \"$OUT\""
echo ok
