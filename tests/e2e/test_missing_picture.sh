#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A picture missing from the media directory stops the game at start-up: the log and
# a message box name it and the directory, and the exit status is 1.
source "$(dirname "$0")/lib.sh"
rm "$GAME_DIR/media/help2.bmp"
start_xvfb
start_game
wait_for_log "Failed to load image \"help2.bmp\""
wait_for_log "Missing picture \"help2.bmp\" in $GAME_DIR/media"
wait_until 5 "no message box" pgrep -f "xmessage.*help2.bmp"
pgrep -af "xmessage" | grep -qF "$GAME_DIR/media" || fail "the message box does not name the media directory"
pkill -f "xmessage.*help2.bmp"   # dismiss it
wait_for_exit 10
[ "$EXIT_STATUS" = 1 ] || fail "status $EXIT_STATUS, not 1"
echo ok
