#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Taps as on-screen keyboards, remote desktops and input tools send them: each press
# and its release arrive together. 20 instant taps of M at the title menu turn the
# sound off and on 20 times, and so do 20 more sent 8 ms apart (several between two
# frames: the game before counted 2 of those 20); 20 and 20 instant taps of P in play
# pause and resume 40 times. A key held down past the keyboard's repeat delay still
# counts once.
source "$(dirname "$0")/lib.sh"

TAPS=20
# One instant tap of key $1, then a pause of 60 to 120 ms: taps land at every point
# of the game's frames.
instant_taps() {  # KEY COUNT
  for ((i = 0; i < $2; i++)); do
    xdotool key --delay 0 "$1"
    sleep "0.$((60 + RANDOM % 61))"
  done
  sleep 0.5
}
# 20 instant taps of key $1 in one go, 8 ms apart: up to 3 between two frames. (Taps
# closer than a millisecond reach the library as a held key with repeats.)
quick_taps() {
  xdotool key --delay 8 $(printf "$1 %.0s" $(seq "$TAPS"))
  sleep 1
}
count() { log_messages | grep -cxE "$1" || true; }
# settle PATTERN N: waits (up to 10 s) until PATTERN is logged N times: the game takes
# one latched press a frame, and a loaded machine runs fewer frames a second. Then a
# moment more, so that a press too many would show.
reached() { [ "$(count "$1")" -ge "$2" ]; }
settle() { wait_until 10 "\"$1\" logged $(count "$1") times, not $2" reached "$1" "$2"; sleep 0.5; }

start_to_menu
instant_taps m "$TAPS"
settle 'Sound (off|on) \(M\)' "$TAPS"
toggles="$(count 'Sound (off|on) \(M\)')"
[ "$toggles" = "$TAPS" ] || fail "$TAPS instant taps of M toggled the sound $toggles times"
[ "$(log_messages | grep -E '^Sound (off|on) \(M\)$' | tail -n1)" = "Sound on (M)" ] ||
  fail "an even number of taps did not leave the sound on"
quick_taps m
settle 'Sound (off|on) \(M\)' $((2 * TAPS))
toggles="$(count 'Sound (off|on) \(M\)')"
[ "$toggles" = $((2 * TAPS)) ] || fail "$TAPS quick taps of M toggled the sound $((toggles - TAPS)) times"

# Held for a second and a half (past the repeat delay): one toggle.
xdotool keydown m; sleep 1.5; xdotool keyup m; sleep 0.3
toggles="$(count 'Sound (off|on) \(M\)')"
[ "$toggles" = $((2 * TAPS + 1)) ] || fail "a held M toggled the sound $((toggles - 2 * TAPS)) times"
grep -qx "mute = on" "$XDG_CONFIG_HOME/nanasplat/settings" || fail "the last toggle was not saved"

begin_single_player
instant_taps p "$TAPS"
settle 'Play resumed' $((TAPS / 2))
paused="$(count 'Play paused')" resumed="$(count 'Play resumed')"
[ "$paused" = $((TAPS / 2)) ] && [ "$resumed" = $((TAPS / 2)) ] ||
  fail "$TAPS instant taps of P paused $paused and resumed $resumed times"
quick_taps p
settle 'Play resumed' "$TAPS"
paused="$(count 'Play paused')" resumed="$(count 'Play resumed')"
[ "$paused" = "$TAPS" ] && [ "$resumed" = "$TAPS" ] ||
  fail "$TAPS quick taps of P paused $((paused - TAPS / 2)) and resumed $((resumed - TAPS / 2)) times"

xdotool keydown p; sleep 1.5; xdotool keyup p; sleep 0.3
[ "$(count 'Play paused')" = $((TAPS + 1)) ] && [ "$(count 'Play resumed')" = "$TAPS" ] ||
  fail "a held P did not pause exactly once"

xdotool keydown Escape; sleep 0.5
wait_for_exit 10
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail "status $EXIT_STATUS"
echo ok
