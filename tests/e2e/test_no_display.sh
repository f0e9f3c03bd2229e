#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Without any display the game cannot set a graphics mode: it logs every attempt,
# says so and ends with status 1, without crashing. Each run starts a fresh log.
source "$(dirname "$0")/lib.sh"

run_without_display() {
  EXIT_STATUS=0
  (cd "$RUN_DIR" && env -u DISPLAY "$GAME_DIR/nanasplat" >"$WORK/stdout.txt" 2>&1) || EXIT_STATUS=$?
}

expected="Initializing allegro.
Installing mouse.
Installing timer.
Installing keyboard.
Setting graphics mode with 16 BPP
16 BPP failed, trying 15
15 BPP also failed, trying full screen
15 BPP failed in full screen, trying 16 BPP full screen
Could not set graphics mode."

for run in 1 2; do
  run_without_display
  [ "$EXIT_STATUS" = 1 ] || fail "run $run ended with status $EXIT_STATUS, not 1"
  [ "$(log_messages)" = "$expected" ] || fail "run $run trace differs:
$(diff <(echo "$expected") <(log_messages))"
  grep -q "Couldn't set graphics mode!" "$WORK/stdout.txt" || fail "no message on standard output"
done
ls "$RUN_DIR" | grep -q core && fail "a core file was left"
echo "ok"
