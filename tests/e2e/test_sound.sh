#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The game's sound through the real ALSA driver, captured into a file: the ALSA library
# reads an .asoundrc in a scratch HOME that sends the default device through a "file"
# plugin (over the "null" device) into $CAPTURE as 16-bit stereo. Music at the title
# and in play, silence while paused, after M and with --mute; without a device, a quiet
# terminal.
source "$(dirname "$0")/lib.sh"

CAPTURE="$WORK/capture.raw"
export HOME="$WORK/home"
mkdir -p "$HOME"
cat >"$HOME/.asoundrc" <<ASOUNDRC
pcm.!default {
  type plug
  slave { pcm "capture" format S16_LE channels 2 rate 44100 }
}
pcm.capture {
  type file
  slave.pcm "null"
  file "$CAPTURE"
  format "raw"
}
ASOUNDRC

start_game_with() {  # ARGS...: the game started with these arguments
  (cd "$RUN_DIR" && exec "$GAME_DIR/nanasplat" "$@" >"$WORK/stdout.txt" 2>&1) &
  GAME_PID=$!
}

# Bytes captured so far, at a whole stereo frame.
captured() { local size; size=$(stat -c %s "$CAPTURE" 2>/dev/null || echo 0); echo $((size / 4 * 4)); }
# peak_after BYTES: the loudest sample captured after that many bytes (0 .. 32768).
peak_after() {
  tail -c +$(($1 + 1)) "$CAPTURE" | od -An -v -td2 -w2 |
    awk 'BEGIN { m = 0 } { v = $1 < 0 ? -$1 : $1; if (v > m) m = v } END { print m }'
}
# listen SECONDS: the peak of what is captured over the next SECONDS.
listen() {
  local from; from=$(captured)
  sleep "$1"
  [ "$(captured)" -gt $((from + 4 * 4410)) ] || fail "the capture stopped growing"
  peak_after "$from"
}
# expect_sound WHAT / expect_silence WHAT: within a few seconds, a whole second of the
# capture is loud (a peak over 300) or silent (a peak of 8 at most). The driver mixes
# ahead, and on a loaded machine what it mixed before a press reaches the capture late,
# so the first second after a press may still hold what came before it.
kHearWithin=5  # seconds
hear() {  # WHAT loud|silent
  local start p; start=$(now_ms)
  sleep 0.5
  while :; do
    p=$(listen 1)
    if [ "$2" = loud ]; then [ "$p" -gt 300 ] && return 0; else [ "$p" -le 8 ] && return 0; fi
    if [ $(($(now_ms) - start)) -ge $((kHearWithin * 1000)) ]; then
      [ "$2" = loud ] && fail "$1: silent (peak $p)"
      fail "$1: not silent (peak $p)"
    fi
  done
}
expect_sound() { hear "$1" loud; }
expect_silence() { hear "$1" silent; }

# --- With sound ---
start_xvfb
start_game_with
wait_for_log "Beginning game loop"
wait_for_window
xdotool mousemove 2 2
wait_for_picture "$GAME_DIR/media/title800_3.bmp"
wait_for_log "Sound through ALSA"
expect_sound "the title's music"

press_key m
expect_silence "the title after M"
press_key m
expect_sound "the title after M again"

begin_single_player
xdotool keydown Right; sleep 0.5; xdotool keyup Right
expect_sound "play"
press_key p
expect_silence "paused play"
press_key m            # muted while paused ...
press_key p
expect_silence "play after M while paused"
press_key m            # ... and back on in play
expect_sound "play after M again"
press_key m
expect_silence "play after M"

send_close
wait_for_exit 10
[ "$EXIT_STATUS" = 0 ] || fail "the game ended with status $EXIT_STATUS"
grep -q "ALSA lib" "$WORK/stdout.txt" && fail "ALSA's complaints reached the terminal"

SETTINGS="$XDG_CONFIG_HOME/nanasplat/settings"
grep -qx 'mute = on' "$SETTINGS" || fail "the game ended muted by M, but the settings say: $(cat "$SETTINGS")"

# --- Started muted ---
rm -f "$CAPTURE" "$SETTINGS"
start_game_with --mute
wait_for_log "Sound through ALSA"
wait_for_window
expect_silence "the title with --mute"
send_close
wait_for_exit 10

# --- A watched replay sounds as its game did; M and --mute silence it ---
REPLAY="$NANASPLAT_SOURCE/tests/replay/golden/two_players_three_levels_crazy.nsr"
rm -f "$CAPTURE" "$SETTINGS"
start_game_with --replay "$REPLAY"
wait_for_log "Sound through ALSA"
wait_for_window
expect_sound "a watched replay"
press_key m
expect_silence "a watched replay after M"
send_close
wait_for_exit 10
[ "$EXIT_STATUS" = 0 ] || fail "the watched replay ended with status $EXIT_STATUS"
rm -f "$CAPTURE" "$SETTINGS"
start_game_with --mute --replay "$REPLAY"
wait_for_log "Sound through ALSA"
wait_for_window
expect_silence "a watched replay with --mute"
send_close
wait_for_exit 10

# --- No device: one line in the log, nothing on the terminal ---
rm -f "$HOME/.asoundrc" "$CAPTURE"
start_game_with
wait_for_log "No sound device found; playing silently"
wait_for_window
send_close
wait_for_exit 10
[ "$EXIT_STATUS" = 0 ] || fail "without a device the game ended with status $EXIT_STATUS"
[ "$(grep -c "No sound device found" "$LOG")" = 1 ] || fail "the missing device is not logged once"
[ ! -s "$WORK/stdout.txt" ] || fail "the terminal got: $(cat "$WORK/stdout.txt")"
# The sound module speaks only after the start-up trace.
awk '/Beginning game loop/ { begun = 1 } /src\/sound.cpp/ && !begun { exit 1 }' "$LOG" ||
  fail "a sound line came before the game loop began"
echo ok
