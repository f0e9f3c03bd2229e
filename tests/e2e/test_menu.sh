#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The title menu and the help pages, driven with the mouse; "Quit" ends the game.
source "$(dirname "$0")/lib.sh"
start_to_menu
MEDIA="$GAME_DIR/media"

screenshot "$WORK/title.png"
keep_screenshot "$WORK/title.png" title.png
expect_picture "$WORK/title.png" "$MEDIA/title800_3.bmp"
for y in 568 618 668 718; do expect_red "$WORK/title.png" 512 "$y"; done
# Blue labels with their tops on the red outline's top edge.
for label_y in "Single Player:568" "Two Player:618" "Help:668" "Quit:718"; do
  TEXT_SKIP_ROWS=1 expect_text "$WORK/title.png" "${label_y%:*}" 517 "${label_y#*:}" 0 0 255
done

shown() {  # PICTURE: what the screen shows now
  sleep 0.3; wait_for_picture "$MEDIA/$1" 5
}

# A release away from every button does nothing, nor does a press that starts on a
# button and ends beside it.
click_at 300 300; shown title800_3.bmp
xdotool mousemove 516 673 mousedown 1; sleep 0.2; xdotool mousemove 300 300; sleep 0.2
xdotool mouseup 1; sleep 0.3; shown title800_3.bmp

click_button 512 668; shown help1.bmp            # Help
screenshot "$WORK/help.png"; keep_screenshot "$WORK/help.png" help.png
expect_red "$WORK/help.png" 100 718
click_button 924 718; shown help2.bmp            # Next
click_button 100 718; shown help1.bmp            # Back on the second page
click_button 100 718; shown title800_3.bmp       # Back on the first page
click_button 512 668; click_button 924 718; shown help2.bmp
click_button 924 718; shown title800_3.bmp       # Done

# Holding the left button, adding the right one and releasing both over "Quit" chooses it.
xdotool mousemove 516 723 mousedown 1; sleep 0.2; xdotool mousedown 3; sleep 0.2
xdotool mouseup 1; sleep 0.2; xdotool mouseup 3
wait_for_exit 10
[ "$EXIT_STATUS" = 0 ] || fail "Quit ended the game with status $EXIT_STATUS"
[ "$(log_messages | tail -n1)" = "Quitting game from main menu." ] || fail "no quit line at the end"
echo ok
