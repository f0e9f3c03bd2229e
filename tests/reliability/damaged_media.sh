#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Damaged media never crash or hang the game: each picture and the font, in turn, cut
# short at several lengths and overwritten with random bytes (all of it, or all but
# its first 64 bytes). Each damaged game is started and, when it reaches its title
# menu, driven through both help pages into play and ended with SIGTERM. Accepted:
#   refused  status 1 at start-up with the "Missing picture" log line (a picture the
#            library cannot load)
#   ran      through the menus into play, ended by the signal with status 0 (a font
#            that cannot be used is replaced by the built-in one)
# Anything else (a crash, an abort, a hang) fails the run.
#
#   damaged_media.sh [quick]   quick: the font and one picture, one cut (in the suite)
# Prints one line per case and a summary; exits 1 when any case was not accepted.
NANASPLAT_BUILD="${NANASPLAT_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build}"
NANASPLAT_SOURCE="${NANASPLAT_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}"
export NANASPLAT_BUILD NANASPLAT_SOURCE
source "$NANASPLAT_SOURCE/tests/e2e/lib.sh"
set +e

FILES=(font.dat title800_3.bmp help1.bmp help2.bmp banana_sm1.bmp fly1.bmp fly2.bmp)
CUTS=(0 10 25 50 75 90 99)
if [ "${1:-}" = quick ]; then FILES=(font.dat fly1.bmp); CUTS=(50); fi
PRISTINE="$WORK/pristine"
cp -r "$GAME_DIR/media" "$PRISTINE"
declare -A COUNT
FAILED=0

start_game() {
  (cd "$RUN_DIR" && exec env --default-signal=TERM "$GAME_DIR/nanasplat" >"$WORK/stdout.txt" 2>&1) &
  GAME_PID=$!
}

# Whether the game is still running after up to $1 tenths of a second.
alive_after() {
  local waited=0
  while kill -0 "$GAME_PID" 2>/dev/null && [ $waited -lt "$1" ]; do sleep 0.1; waited=$((waited + 1)); done
  kill -0 "$GAME_PID" 2>/dev/null
}

# Runs the game on the damaged media; prints the outcome.
judge() {
  rm -f "$LOG"
  start_game
  local waited=0 status
  until grep -qF "Beginning game loop" "$LOG" 2>/dev/null || ! kill -0 "$GAME_PID" 2>/dev/null; do
    sleep 0.1; waited=$((waited + 1)); [ $waited -gt 150 ] && break
  done
  # Through the menus (whatever they show) into play, while it keeps running.
  if alive_after 10; then
    xdotool search --sync --name '^demo$' >/dev/null 2>&1
    click_button 512 668; click_button 924 718; click_button 924 718   # Help, Next, Done
    click_button 512 568; sleep 0.3; press_key space; sleep 1           # Single Player, play
  fi
  if alive_after 1; then
    kill -TERM "$GAME_PID"
    if alive_after 30; then kill -KILL "$GAME_PID"; wait "$GAME_PID" 2>/dev/null; echo hang; return; fi
    status=0; wait "$GAME_PID" || status=$?
    [ "$status" = 0 ] && { echo ran; return; }
    # A picture refused, and its message box open until the signal.
    if [ "$status" = 1 ] && log_messages | grep -q '^Missing picture '; then echo refused; return; fi
  else
    status=0; wait "$GAME_PID" || status=$?
    if [ "$status" = 1 ] && log_messages | grep -q '^Missing picture '; then echo refused; return; fi
  fi
  echo "fault (status $status)"
}

damage_case() {  # FILE DESCRIPTION; the damaged copy is already in place
  local outcome
  outcome="$(judge)"
  GAME_PID=""
  local font_note=""
  [ "$1" = font.dat ] && log_messages | grep -q "^Loading font from font.dat failed, falling back on default" &&
    font_note=" (built-in font)"
  printf '%-15s %-22s %s%s\n' "$1" "$2" "$outcome" "$font_note"
  COUNT["$1 $outcome"]=$((${COUNT["$1 $outcome"]:-0} + 1))
  case "$outcome" in ran | refused) ;; *) FAILED=1 ;; esac
  cp "$PRISTINE/$1" "$GAME_DIR/media/$1"
}

start_xvfb
for file in "${FILES[@]}"; do
  size=$(stat -c %s "$PRISTINE/$file")
  for cut in "${CUTS[@]}"; do
    head -c $((size * cut / 100)) "$PRISTINE/$file" >"$GAME_DIR/media/$file"
    damage_case "$file" "cut to $cut %"
  done
  head -c "$size" /dev/urandom >"$GAME_DIR/media/$file"
  damage_case "$file" "all random"
  { head -c 64 "$PRISTINE/$file"; head -c $((size - 64)) /dev/urandom; } >"$GAME_DIR/media/$file"
  damage_case "$file" "random after 64 bytes"
done

echo "Summary:"
for key in "${!COUNT[@]}"; do echo "  $key: ${COUNT[$key]}"; done | sort
exit $FAILED
