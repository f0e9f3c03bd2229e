#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real game under valgrind's memcheck: the title menu, both help pages, "Single
# Player", a few seconds of play with every control, and Escape. No memory error and no
# definite leak may be reported. (Play through two levels with CRAZY mode runs under
# memcheck in the session test, which steps the game's own functions.)
source "$NANASPLAT_SOURCE/tests/e2e/lib.sh"
command -v valgrind >/dev/null || { echo "SKIP: valgrind is not installed"; exit 77; }
MEDIA="$GAME_DIR/media"
REPORT="$WORK/memcheck.txt"

fail_with_report() {
  [ -f "$REPORT" ] && { echo "--- memcheck ---" >&2; cat "$REPORT" >&2; }
  fail "$@"
}

start_xvfb
(cd "$RUN_DIR" && exec valgrind --tool=memcheck --fair-sched=yes --error-exitcode=42 --leak-check=full \
   --errors-for-leak-kinds=definite --show-leak-kinds=definite --num-callers=30 \
   --log-file="$REPORT" \
   "$GAME_DIR/nanasplat" >"$WORK/stdout.txt" 2>&1) &
GAME_PID=$!
wait_for_log "Beginning game loop" 120
wait_for_window
xdotool mousemove 2 2
sleep 2

shown() {  # PICTURE: the screen comes to show it (frames come slowly under memcheck)
  local tries=0
  until sleep 1; screenshot "$WORK/now.png"; (expect_picture "$WORK/now.png" "$MEDIA/$1") 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -lt 10 ] || expect_picture "$WORK/now.png" "$MEDIA/$1"
  done
}
# Presses are held long enough for a slow frame to see them.
slow_click() { xdotool mousemove "$1" "$2"; sleep 0.5; xdotool mousedown 1; sleep 0.6; xdotool mouseup 1; }

shown title800_3.bmp
slow_click 516 678; shown help1.bmp        # Help
slow_click 928 728; shown help2.bmp        # Next
slow_click 104 728; shown help1.bmp        # Back
slow_click 104 728; shown title800_3.bmp   # Back
slow_click 516 578; sleep 2                # Single Player: the level screen
xdotool key --window "$WINDOW" space; sleep 2
for held in Right Left space Down Right; do
  xdotool keydown "$held"; sleep 1; xdotool keyup "$held"
done
screenshot "$WORK/play.png"
expect_black "$WORK/play.png" 512 760   # the floor of the play screen

xdotool keydown Escape; sleep 1
wait_for_exit 120
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail_with_report "the game under memcheck ended with status $EXIT_STATUS"
grep -q "ERROR SUMMARY: 0 errors" "$REPORT" || fail_with_report "memcheck reported errors"
echo ok
