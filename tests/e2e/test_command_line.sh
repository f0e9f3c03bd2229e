#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real game's command line, without a display: --help and --version print to
# standard output and end with status 0; an unknown option prints the usage to
# standard error and ends with status 2. None of them starts the game.
source "$(dirname "$0")/lib.sh"
unset DISPLAY
mkdir -p "$WORK/home"
run() { (cd "$RUN_DIR" && HOME="$WORK/home" XDG_DATA_HOME= XDG_CONFIG_HOME= \
          "$GAME_DIR/nanasplat" "$@" >"$WORK/out.txt" 2>"$WORK/err.txt"); }

status=0; run --help || status=$?
[ "$status" = 0 ] || fail "--help ended with status $status"
[ ! -s "$WORK/err.txt" ] || fail "--help wrote to standard error: $(cat "$WORK/err.txt")"
for part in "Usage: nanasplat" "--mute" "--version" "$WORK/home/.local/share/nanasplat/scores" \
            "$WORK/home/.config/nanasplat/settings" "Controls:"; do
  grep -qF -- "$part" "$WORK/out.txt" || fail "the usage does not mention $part: $(cat "$WORK/out.txt")"
done

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$NANASPLAT_BUILD/CMakeCache.txt")"
status=0; run --version || status=$?
[ "$status" = 0 ] || fail "--version ended with status $status"
[ "$(cat "$WORK/out.txt")" = "nanasplat $version" ] || fail "--version printed: $(cat "$WORK/out.txt")"

status=0; run --no-such-option || status=$?
[ "$status" = 2 ] || fail "an unknown option ended with status $status"
[ ! -s "$WORK/out.txt" ] || fail "the misuse wrote to standard output"
head -n1 "$WORK/err.txt" | grep -qxF "nanasplat: unknown option '--no-such-option'" ||
  fail "standard error: $(cat "$WORK/err.txt")"
grep -qF "Usage: nanasplat" "$WORK/err.txt" || fail "no usage on standard error"

# None of them went as far as starting the library.
! grep -q "Initializing allegro" "$LOG" 2>/dev/null || fail "the game started"
echo ok
