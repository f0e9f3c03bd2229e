#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every signal accounted for, in the real game at its title menu (where the library's
# own handlers would otherwise shut the library down inside the signal): SIGQUIT ends
# the game like SIGTERM, with status 0 and a last log line naming it; a crash signal
# writes one log line naming it and then takes its default action, at once.
source "$(dirname "$0")/lib.sh"
ulimit -c 0  # the default action of a crash signal, without core files left behind

# The game, started so that no signal is ignored (a background job of a script starts
# with SIGINT and SIGQUIT ignored, and the game keeps an ignored quit signal so).
start_game() {
  (cd "$RUN_DIR" && exec env --default-signal=INT,QUIT "$GAME_DIR/nanasplat" >"$WORK/stdout.txt" 2>&1) &
  GAME_PID=$!
}

# Sends signal $1 at the title menu; sets EXIT_STATUS and LAST (the last log message).
signal_at_title() {
  rm -f "$LOG"
  start_game
  wait_for_log "Beginning game loop"
  wait_for_window
  xdotool mousemove 2 2
  wait_for_picture "$GAME_DIR/media/title800_3.bmp"
  kill -s "$1" "$GAME_PID"
  wait_for_exit 5
  LAST="$(log_messages | tail -n1)"
}

start_xvfb
signal_at_title QUIT
[ "$EXIT_STATUS" = 0 ] || fail "SIGQUIT ended the game with status $EXIT_STATUS"
[ "$LAST" = "Received SIGQUIT (3); quitting" ] || fail "the last log line after SIGQUIT: $LAST"

for crash in SEGV:11 ABRT:6 BUS:7 FPE:8 ILL:4; do
  name="${crash%:*}" number="${crash#*:}"
  signal_at_title "$name"
  [ "$EXIT_STATUS" = $((128 + number)) ] || fail "SIG$name: status $EXIT_STATUS, not its default action"
  [ "$LAST" = "Crashed with SIG$name ($number); ending at once" ] || fail "the last log line after SIG$name: $LAST"
  [ "$(log_messages | grep -c '^Crashed with')" = 1 ] || fail "SIG$name: not one crash line"
  grep -q "Shutting down Allegro" "$WORK/stdout.txt" && fail "SIG$name reached the library's own handler"
done
echo ok
