#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A whole single-player game left to run out of time: the time-up screen, the name
# typed into the high-score table, the table saved in "scores", back to the title.
source "$(dirname "$0")/lib.sh"
start_to_menu

play_until_time_up
expect_text "$WORK/end.png" "Time up!  The fruit flies got to you ..." 512 384
expect_text "$WORK/end.png" "Press any key to continue." 512 424

press_key space
wait_for_text 10 "High Score #1 / 10!" 512 50
cp "$WORK/now.png" "$WORK/entry.png"
expect_text "$WORK/entry.png" "High Score #1 / 10!" 512 50
xdotool type --delay 120 "Tester"
sleep 0.3
press_key Return
wait_for_text 10 "Tester -- 0" 512 90
cp "$WORK/now.png" "$WORK/table.png"
expect_text "$WORK/table.png" "Best of the Bunch" 512 20
expect_text "$WORK/table.png" "Tester -- 0" 512 90
[ "$(cat "$GAME_DIR/media/scores")" = "$(printf 'Tester\n0')" ] || fail "scores holds: $(cat "$GAME_DIR/media/scores")"

press_key Return
wait_for_picture "$GAME_DIR/media/title800_3.bmp"
xdotool keydown Escape; sleep 0.5
wait_for_exit 10
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail "status $EXIT_STATUS"
echo ok
