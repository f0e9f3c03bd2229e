#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Start-up on a display: the trace up to the game loop, media found beside the
# executable although the game starts elsewhere, and the window's close button.
source "$(dirname "$0")/lib.sh"
start_xvfb

start_game
wait_for_log "Beginning game loop"
wait_for_window
wait_for_picture "$GAME_DIR/media/title800_3.bmp"   # every picture is loaded by now

expected="src/init.cpp Initializing allegro.
src/init.cpp Installing mouse.
src/init.cpp Installing timer.
src/init.cpp Installing keyboard.
src/init.cpp Setting graphics mode with 16 BPP
src/init.cpp Getting executable name, to set our path appropriately
src/init.cpp Starting logic timer
src/init.cpp Setting close button callback
src/init.cpp Setting window title
src/main.cpp Initialization succeeded
src/util.cpp Loading font font.dat
src/init.cpp Setting global font
src/main.cpp Beginning game loop"
# The trace comes first, whole; what the game adds to start-up follows it.
actual="$(sed -E 's/^\(([^:]*):[0-9]+\) /\1 /' "$LOG" | head -n "$(echo "$expected" | wc -l)")"
[ "$actual" = "$expected" ] || fail "start-up trace differs:
$(diff <(echo "$expected") <(echo "$actual"))"
# A copy in a scratch directory can write its media directory: the table stays there.
added="src/userdata.cpp High-score table: $GAME_DIR/media/scores (in the media directory)
src/pad.cpp Gamepads found: 0
src/pause.cpp Play pauses when the window loses the input focus"
# The sound's lines come once the title is on the screen, when the device has been looked for.
actual="$(sed -E 's/^\(([^:]*):[0-9]+\) /\1 /' "$LOG" | tail -n +"$(($(echo "$expected" | wc -l) + 1))" |
  grep -v '^src/sound.cpp ' || true)"
[ "$actual" = "$added" ] || fail "after the trace the log holds:
$actual"

# The log stays where the game started; the media directory beside the executable
# holds no log of its own.
[ ! -e "$GAME_DIR/media/debug.txt" ] || fail "debug.txt written into the media directory"
grep -q "Failed to load" "$LOG" && fail "a picture or the font was not found"

send_close
wait_for_log "Received close message; quitnow variable set"
wait_for_exit 10
[ "$EXIT_STATUS" = 0 ] || fail "close request ended the game with status $EXIT_STATUS"
[ "$(log_messages | tail -n1)" = "Received close message; quitnow variable set" ] ||
  fail "the close notice is not the last line"
echo "ok"
