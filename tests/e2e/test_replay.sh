#!/usr/bin/env bash
# A short game recorded as it is played: the player rolls, squashes and jumps, then
# ends the game with Escape. The game writes replays/last.nsr (and best.nsr, there
# being none) beside its high-score table, logs how the game ended, and the replay
# checked by the game itself ends exactly so.
source "$(dirname "$0")/lib.sh"
start_to_menu

click_button 512 568
sleep 0.5
press_key space
sleep 0.5
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
echo ok
