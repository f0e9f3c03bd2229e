#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# "Single Player": the level screen, then play with its floor, walls and clock;
# Escape held during play ends the program without the menu's quit line.
source "$(dirname "$0")/lib.sh"
start_to_menu

click_button 512 568
wait_for_text 10 "Press any key to begin." 512 424
cp "$WORK/now.png" "$WORK/level.png"
expect_text "$WORK/level.png" "Level 1" 512 384
expect_text "$WORK/level.png" "Press any key to begin." 512 424

press_key space
screenshot "$WORK/play.png"
# 55 seconds show in the level's first frame, 54 from its first tick on.
shows_text "$WORK/play.png" "Time Left: 55" 512 50 || expect_text "$WORK/play.png" "Time Left: 54" 512 50
expect_black "$WORK/play.png" 512 760   # floor
expect_black "$WORK/play.png" 10 300    # left wall
expect_black "$WORK/play.png" 1014 300  # right wall
read -r w _ <<<"$("$NANASPLAT_BUILD/tests/render_text" "$GAME_DIR/media/font.dat" "P1: 0" "$WORK/p1.bmp")"
expect_text "$WORK/play.png" "P1: 0" $((724 + w / 2)) 50

# Roll about for a moment of play worth a picture.
xdotool keydown Right; sleep 1.2; xdotool keyup Right
xdotool keydown Left; sleep 0.6; xdotool keyup Left
screenshot "$WORK/playing.png"
keep_screenshot "$WORK/playing.png" play.png

xdotool keydown Escape; sleep 0.5
wait_for_exit 10
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail "Escape ended the game with status $EXIT_STATUS"
grep -q "Quitting game from main menu." "$LOG" && fail "Escape wrote the menu's quit line"
echo ok
