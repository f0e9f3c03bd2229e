#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Pause in play: P stops the clock and shows the pause texts over the play area, P
# again goes on; losing the window's focus pauses until P (here the Pause key) is
# pressed; Escape held while paused ends the program. No pads here: the start-up log
# says so.
source "$(dirname "$0")/lib.sh"
start_to_menu
grep -qF "Gamepads found: 0" "$LOG" || fail "no count of gamepads in the log"

begin_single_player

press_key p
wait_for_log "Play paused"
shows_pause_texts() { screenshot "$WORK/paused.png" && shows_text "$WORK/paused.png" "Press P to go on." 512 384; }
wait_until 5 "the pause texts are not shown" shows_pause_texts
expect_text "$WORK/paused.png" "Paused" 512 344
expect_text "$WORK/paused.png" "Press P to go on." 512 384
expect_black "$WORK/paused.png" 512 760   # the play area stays: floor and walls
expect_black "$WORK/paused.png" 10 300
# The clock stands still: the time display a second and a half later is the same.
sleep 1.5
screenshot "$WORK/still.png"
convert "$WORK/paused.png" -crop 400x40+312+50 +repage "$WORK/time1.ppm"
convert "$WORK/still.png" -crop 400x40+312+50 +repage "$WORK/time2.ppm"
diff="$(compare -metric AE "$WORK/time1.ppm" "$WORK/time2.ppm" null: 2>&1 || true)"
[ "${diff%%.*}" = 0 ] || fail "the time display changed while paused ($diff pixels)"

press_key p
wait_for_log "Play resumed"
wait_until 5 "the pause text stays after P" shows_not "Paused" 512 344

# The window loses the focus: play pauses, and stays paused when the focus comes back.
root="$(xwininfo -root | awk '/Window id/ {print $4}')"
xdotool windowfocus "$root"
wait_for_log "Play paused: the window lost the input focus"
xdotool windowfocus "$WINDOW"
sleep 1
[ "$(log_messages | grep -c '^Play resumed$')" = 1 ] || fail "play resumed by itself"
screenshot "$WORK/unfocused.png"
expect_text "$WORK/unfocused.png" "Paused" 512 344
press_key Pause
resumed_twice() { [ "$(log_messages | grep -c '^Play resumed$')" = 2 ]; }
wait_until 5 "the Pause key did not resume play" resumed_twice

# Escape held while paused ends the program, as it does in play.
press_key p
paused_twice() { [ "$(log_messages | grep -c '^Play paused$')" = 2 ]; }
wait_until 5 "P did not pause a second time" paused_twice
xdotool keydown Escape; sleep 0.5
wait_for_exit 10
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail "Escape while paused ended the game with status $EXIT_STATUS"
echo ok
