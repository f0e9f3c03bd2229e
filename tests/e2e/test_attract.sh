#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Attract mode: the title menu left alone plays a demo game marked "DEMO"; a key, the
# mouse moved or a click ends it at once and does nothing else; a demo that cannot be
# read is skipped with one log line; the menu works as before afterwards; no demo
# writes a replay, a score or a setting; "attract = off" turns the mode off. The idle
# time is cut to 3 seconds here (30 seconds in play): the title menu is looked at only
# right after some input, so that no demo can cover it meanwhile.
source "$(dirname "$0")/lib.sh"
export NANASPLAT_ATTRACT_IDLE_MS=3000
MEDIA="$GAME_DIR/media"
SETTINGS="$XDG_CONFIG_HOME/nanasplat/settings"

# A best replay that does not read back: skipped, and the media's demos play instead.
mkdir -p "$MEDIA/replays"
echo "not a replay" >"$MEDIA/replays/best.nsr"

count() { log_messages | grep -cxF -- "$1" || true; }
logged_times() { [ "$(count "$1")" -ge "$2" ]; }
# wait_for_count MESSAGE N [SECONDS]: until MESSAGE is in the log N times.
wait_for_count() { wait_until "${3:-15}" "\"$1\" not logged $2 times" logged_times "$1" "$2"; }
demos_started() { log_messages | grep -c '^Attract mode: playing ' || true; }
demos_reached() { [ "$(demos_started)" -ge "$1" ]; }
# end_demo N WHAT...: waits for the Nth demo, runs WHAT, and expects the way back.
end_demo() {
  local n="$1"; shift
  wait_until 15 "demo $n did not start" demos_reached "$n"
  sleep 0.5
  "$@"
  wait_for_count "Attract mode: back to the title menu" "$n" 5
  kill -0 "$GAME_PID" 2>/dev/null || fail "the game ended after \"$*\" during a demo"
}

start_xvfb
start_game
wait_for_log "Beginning game loop"
wait_for_window
xdotool mousemove 2 2

# --- The idle time starts a demo ----------------------------------------------
wait_for_log "Attract mode: playing demos/demo-1.nsr" 15
[ "$(log_messages | grep -c '^Attract mode: skipping .*/replays/best.nsr: ')" = 1 ] ||
  fail "the unreadable best.nsr was not skipped with one log line"
read -r mark_w _ <<<"$("$NANASPLAT_BUILD/tests/render_text" "$MEDIA/font.dat" DEMO "$WORK/mark.bmp" 255 0 0)"
sleep 2.5  # past the level screen, into play
wait_for_text 10 "DEMO" $((30 + mark_w / 2)) 10 255 0 0   # red, top-left
keep_screenshot "$WORK/now.png" demo.png

# --- Each kind of input ends it, and does nothing else --------------------------
press_key Escape                                   # would quit from the menu
wait_for_count "Attract mode: back to the title menu" 1 5
kill -0 "$GAME_PID" 2>/dev/null || fail "Escape during a demo ended the game"
end_demo 2 press_key p                             # would pause play
end_demo 3 press_key m                             # would turn the sound off
end_demo 4 xdotool mousemove 516 723               # the pointer moved, onto "Quit"
# A click over "Quit" is the only input: the demo ends and the menu does not take the
# click. (A move and a click sent together may be read apart: the move ends the demo,
# and the click then lands on the menu as a player's new click.)
end_demo 5 xdotool mousedown 1
sleep 0.3; xdotool mouseup 1; sleep 0.5
kill -0 "$GAME_PID" 2>/dev/null || fail "the click that ended a demo chose Quit"
log_messages | grep -qx "Play paused" && fail "P during a demo paused the demo"
log_messages | grep -q "^Quitting" && fail "a demo's input reached the menu"
[ ! -e "$SETTINGS" ] || fail "M during a demo changed the settings: $(cat "$SETTINGS")"
[ ! -e "$MEDIA/replays/last.nsr" ] || fail "a demo wrote a replay"
[ ! -e "$MEDIA/scores" ] || fail "a demo wrote a score"
grep -qx "not a replay" "$MEDIA/replays/best.nsr" || fail "a demo touched best.nsr"

# --- The menu works as before -------------------------------------------------
press_key m                                        # M on the menu: sound off, kept
muted_and_kept() { grep -q "^mute = on" "$SETTINGS" 2>/dev/null; }
wait_until 5 "M on the menu after a demo did nothing" muted_and_kept
click_button 512 668; sleep 0.3; wait_for_picture "$MEDIA/help1.bmp" 5   # Help
click_button 100 718                               # Back to the title ...
click_button 512 718                               # ... and Quit
wait_for_exit 10
[ "$EXIT_STATUS" = 0 ] || fail "Quit after the demos ended the game with status $EXIT_STATUS"
[ "$(log_messages | tail -n1)" = "Quitting game from main menu." ] || fail "no quit line at the end"

# --- "attract = off" ----------------------------------------------------------
rm -f "$LOG"
printf 'attract = off\n' >"$SETTINGS"
start_game
wait_for_log "Beginning game loop"
sleep 4
[ "$(demos_started)" = 0 ] || fail "attract = off still played a demo"
kill "$GAME_PID"; wait "$GAME_PID" 2>/dev/null || true; GAME_PID=""
echo "PASS"
