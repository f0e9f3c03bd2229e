#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A short game recorded as it is played: the player rolls, squashes and jumps, then
# ends the game with Escape. The game writes replays/last.nsr (and best.nsr, there
# being none) beside its high-score table, logs how the game ended, and the replay
# checked by the game itself ends exactly so.
source "$(dirname "$0")/lib.sh"
start_to_menu

begin_single_player
xdotool keydown Right; sleep 1.2; xdotool keyup Right
xdotool keydown Left; sleep 0.8; xdotool keyup Left
xdotool keydown space; sleep 0.6; xdotool keyup space
press_key p          # a pause in the middle changes nothing in the replay
sleep 0.5
press_key p
xdotool keydown Right; sleep 0.7; xdotool keyup Right
xdotool keydown Escape; sleep 0.5
wait_for_exit 10
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail "status $EXIT_STATUS"

REPLAYS="$GAME_DIR/media/replays"
[ -f "$REPLAYS/last.nsr" ] || fail "no replays/last.nsr"
cmp -s "$REPLAYS/last.nsr" "$REPLAYS/best.nsr" || fail "best.nsr is not the only game played"
ls "$REPLAYS" | grep -q tmp && fail "a temporary file was left: $(ls "$REPLAYS")"
summary="$(log_messages | sed -n 's/^Game over (quit): //p')"
[ -n "$summary" ] || fail "no summary in the log"

out="$(cd "$RUN_DIR" && "$GAME_DIR/nanasplat" --check-replay "$REPLAYS/last.nsr")" || fail "check: status $?: $out"
[ "$out" = "replay: $summary: matches" ] || fail "check printed \"$out\" for \"$summary\""
echo "$out"

# Watching it: the level screen stays for two seconds under the red "REPLAY" mark (left
# of the heads-up texts); Escape ends the playback with status 0 and writes nothing.
cp "$REPLAYS/last.nsr" "$WORK/recorded.nsr"
(cd "$RUN_DIR" && exec "$GAME_DIR/nanasplat" --replay "$REPLAYS/last.nsr" >"$WORK/stdout.txt" 2>&1) &
GAME_PID=$!
wait_for_window
sleep 0.8
screenshot "$WORK/watch.png"
expect_text "$WORK/watch.png" "Level 1" 512 384
read -r mark_w _ <<<"$("$NANASPLAT_BUILD/tests/render_text" "$GAME_DIR/media/font.dat" REPLAY "$WORK/mark.bmp" 255 0 0)"
expect_text "$WORK/watch.png" "REPLAY" $((30 + mark_w / 2)) 10 255 0 0
xdotool keydown Escape; sleep 0.5
wait_for_exit 10
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail "watching: status $EXIT_STATUS"
cmp -s "$REPLAYS/last.nsr" "$WORK/recorded.nsr" || fail "watching a replay wrote last.nsr"
echo ok
