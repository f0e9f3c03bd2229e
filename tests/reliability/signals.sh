#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Quit signals (SIGTERM, SIGINT, SIGHUP, SIGQUIT in turn) sent at random moments to the real game
# on each of its screens. Every run must end with status 0 within a second, with a last
# log line naming the signal, and leave the high-score table either as it was or wholly
# replaced. Then the X server is taken away under running games: each must end within a
# second with a log line and a non-zero status. NANASPLAT_QUIT_DEADLINE_MS changes the
# second allowed. Times are from the kill to the end of the process as this script sees
# it (its own polling, every 50 ms, is part of it), and to the game's last log line
# (the file's modification time).
#
#   signals.sh [RUNS_PER_SCREEN [ENDGAME_RUNS [LOST_DISPLAY_RUNS]]]   (defaults 30 0 5)
#     RUNS_PER_SCREEN    runs on each of: start-up, title menu, help pages, level screen, play
#     ENDGAME_RUNS       runs on each of: name prompt (typing, or around the save),
#                        high-score table;
#                        each plays a whole first level (55 seconds) to get there
#     LOST_DISPLAY_RUNS  runs whose display goes away
# NANASPLAT_SIGNALS names the signals sent in turn (default "TERM INT HUP QUIT"),
# NANASPLAT_SCREENS and NANASPLAT_ENDGAME_SCREENS the screens visited (defaults above),
# e.g. NANASPLAT_SIGNALS=QUIT NANASPLAT_SCREENS="start-up title play"
# NANASPLAT_ENDGAME_SCREENS=prompt signals.sh 60 20 0: 200 SIGQUITs.
# Prints one line per run and a summary; exits 1 when any run was not clean.
NANASPLAT_BUILD="${NANASPLAT_BUILD:-$(cd "$(dirname "$0")/../.." && pwd)/build}"
NANASPLAT_SOURCE="${NANASPLAT_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}"
export NANASPLAT_BUILD NANASPLAT_SOURCE
source "$NANASPLAT_SOURCE/tests/e2e/lib.sh"
set +e

RUNS="${1:-30}" ENDGAME="${2:-0}" LOST="${3:-5}"
# The time allowed from the signal (or the display's end) to the end of the process.
DEADLINE_MS="${NANASPLAT_QUIT_DEADLINE_MS:-1000}"
read -r -a SIGNALS <<<"${NANASPLAT_SIGNALS:-TERM INT HUP QUIT}"
read -r -a SCREENS <<<"${NANASPLAT_SCREENS:-start-up title help level play}"
read -r -a ENDGAME_SCREENS <<<"${NANASPLAT_ENDGAME_SCREENS:-prompt table}"
OLD_TABLE=$'Alice\n50\nBob\n30\nCarol\n10\n'
NEW_TABLE_RE=$'^Alice\n50\nBob\n30\nCarol\n10\n[A-Za-z ]+\n0\nx$'
declare -A COUNT
run=0

# A random pause of 0 to $1 milliseconds.
pause_ms() { sleep "$(awk -v r=$RANDOM -v m="$1" 'BEGIN { printf "%.3f", r / 32768 * m / 1000 }')"; }

# The game, started so that no quit signal is ignored (a background job of a script
# would otherwise start with SIGINT ignored, and the game keeps an ignored signal so).
start_game() {
  (cd "$RUN_DIR" && exec env --default-signal=INT,HUP,TERM,QUIT "$GAME_DIR/nanasplat" >"$WORK/stdout.txt" 2>&1) &
  GAME_PID=$!
}

until_log() {  # MESSAGE SECONDS
  local waited=0
  until grep -qF -- "$1" "$LOG" 2>/dev/null; do
    sleep 0.05; waited=$((waited + 1)); [ $waited -gt $(($2 * 20)) ] && return 1
  done
  return 0
}

to_title() {
  until_log "Beginning game loop" 10 || return 1
  wait_for_window
  xdotool mousemove 2 2
  wait_for_picture "$GAME_DIR/media/title800_3.bmp" 10
}

# Drives the fresh game to SCREEN; returns non-zero when it could not get there.
go_to() {
  case "$1" in
    start-up) pause_ms 1500; return 0 ;;
    title) to_title ;;
    help) to_title && click_button 512 668 && { [ $((RANDOM % 2)) = 0 ] || click_button 924 718; } ;;
    level) to_title && click_button 512 568 ;;
    play) to_title && click_button 512 568 && sleep 0.3 && press_key space ;;
    prompt | table)
      to_title && click_button 512 568 && sleep 0.3 && press_key space || return 1
      sleep 56
      local waited=0
      until screenshot "$WORK/end.png" &&
            convert "$WORK/end.png" -crop 1x1+512+760 -format '%[fx:int(255*r)]' info: | grep -qx 255; do
        sleep 0.3; waited=$((waited + 1)); [ $waited -gt 30 ] && return 1
      done
      press_key space; sleep 0.5
      xdotool type --delay 60 "Tester"; sleep 0.2
      if [ "$1" = prompt ]; then
        # Half the signals come while the name is typed, half just after Return,
        # while the table is being saved.
        [ $((RANDOM % 2)) = 0 ] && xdotool keydown Return
        pause_ms 300; return 0
      fi
      press_key Return; sleep 0.3 ;;
  esac
}

# Sends the signal, waits for the end and sorts the outcome into COUNT.
signal_and_judge() {  # SCREEN SIGNAL
  local screen="$1" sig="$2" start end ms status last table outcome logged=-
  start=$(now_ms)
  kill -s "$sig" "$GAME_PID" 2>/dev/null
  local waited=0
  while kill -0 "$GAME_PID" 2>/dev/null && [ $waited -lt 100 ]; do sleep 0.05; waited=$((waited + 1)); done
  end=$(now_ms); ms=$((end - start))
  if kill -0 "$GAME_PID" 2>/dev/null; then
    outcome=hang; kill -KILL "$GAME_PID"; wait "$GAME_PID" 2>/dev/null; status=hung
  else
    status=0; wait "$GAME_PID" || status=$?
    last="$(log_messages | tail -n1)"
    logged=$((($(date -r "$LOG" +%s%N) - start) / 1000000))
    if [ "$status" = 134 ] || [ "$status" = 6 ]; then outcome=abort
    elif [ "$status" != 0 ]; then outcome=crash
    elif ! [[ "$last" =~ ^Received\ SIG$sig\ \([0-9]+\)\;\ quitting$ ]]; then outcome=no-log-line
    elif [ "$ms" -gt "$DEADLINE_MS" ]; then outcome=slow
    else outcome=clean
    fi
  fi
  GAME_PID=""
  xdotool keyup Return 2>/dev/null || true
  table="$(cat "$GAME_DIR/media/scores" 2>/dev/null; echo x)"
  # Whole: the old table, or the old one with the new entry (its name as far as it was
  # typed: on a busy machine the first letters can come before the prompt is up, and
  # the Space that left the previous screen can repeat into it).
  if [[ "$table" =~ $NEW_TABLE_RE ]]; then
    COUNT[table-saved]=$((${COUNT[table-saved]:-0} + 1))
  elif [ "$table" != "${OLD_TABLE}x" ]; then
    outcome="$outcome+torn-table"
    echo "    the table: $(printf '%q' "$table")"
  fi
  COUNT[$outcome]=$((${COUNT[$outcome]:-0} + 1))
  run=$((run + 1))
  printf '%3d %-9s SIG%-4s status %-5s ended %5d ms, logged %5s ms  %s\n' "$run" "$screen" "$sig" "$status" "$ms" "$logged" "$outcome"
  [ "$outcome" = clean ] || { echo "    last log line: $last"; }
}

one_run() {  # SCREEN
  local sig="${SIGNALS[$((run % ${#SIGNALS[@]}))]}"
  rm -f "$LOG"; printf '%s' "$OLD_TABLE" >"$GAME_DIR/media/scores"
  start_game
  if ! go_to "$1"; then
    echo "    could not reach $1"; COUNT[unreached]=$((${COUNT[unreached]:-0} + 1))
  fi
  [ "$1" = start-up ] || [ "$1" = prompt ] || pause_ms 1000
  signal_and_judge "$1" "$sig"
}

start_xvfb
for ((i = 0; i < RUNS; i++)); do
  for screen in "${SCREENS[@]}"; do one_run "$screen"; done
done
for ((i = 0; i < ENDGAME; i++)); do
  for screen in "${ENDGAME_SCREENS[@]}"; do one_run "$screen"; done
done
stop_xvfb

# A display that goes away: under the title menu or in play, at a random moment.
for ((i = 0; i < LOST; i++)); do
  rm -f "$LOG"; start_xvfb; start_game
  to_title; [ $((i % 2)) = 1 ] && click_button 512 568 && sleep 0.3 && press_key space
  pause_ms 1000
  stop_xvfb; start=$(now_ms)
  waited=0
  while kill -0 "$GAME_PID" 2>/dev/null && [ $waited -lt 100 ]; do sleep 0.05; waited=$((waited + 1)); done
  ms=$(($(now_ms) - start))
  if kill -0 "$GAME_PID" 2>/dev/null; then
    outcome=lost-display-hang; kill -KILL "$GAME_PID"; status=hung
  else
    status=0; wait "$GAME_PID" || status=$?
    last="$(log_messages | tail -n1)"
    if [ "$status" = 1 ] && [ "$last" = "Lost the connection to the display, can't go on" ] && [ "$ms" -le "$DEADLINE_MS" ]; then
      outcome=lost-display-clean
    else
      outcome=lost-display-fault
      echo "    last log line: $last"
    fi
  fi
  GAME_PID=""
  COUNT[$outcome]=$((${COUNT[$outcome]:-0} + 1))
  run=$((run + 1))
  printf '%3d %-9s display gone status %-5s %5d ms  %s\n' "$run" "$([ $((i % 2)) = 1 ] && echo play || echo title)" "$status" "$ms" "$outcome"
done

echo "Summary:"
for outcome in "${!COUNT[@]}"; do echo "  $outcome: ${COUNT[$outcome]}"; done | sort
for outcome in "${!COUNT[@]}"; do
  case "$outcome" in clean | table-saved | lost-display-clean) ;; *) exit 1 ;; esac
done
exit 0
