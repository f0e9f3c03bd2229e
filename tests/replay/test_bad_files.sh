#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Files that are not readable replays: one line on standard error, status 2, for
# watching and checking alike, before any window opens (no display here).
source "$(dirname "$0")/lib.sh"
unset DISPLAY
good="$GOLDEN/quit_in_level_two_crazy.nsr"
size=$(stat -c %s "$good")
printf 'NOTAREPLAY and some more bytes here' >magic.nsr
{ head -c 8 "$good"; printf '\x63\x00'; tail -c +11 "$good"; } >version.nsr
head -c $((size / 2)) "$good" >truncated.nsr
head -c 9 "$good" >header_only.nsr
cp "$good" corrupt.nsr
printf '\xff' | dd of=corrupt.nsr bs=1 seek=$((size - 20)) conv=notrunc status=none
: >empty.nsr
mkdir directory.nsr
for file in magic version truncated header_only corrupt empty missing directory; do
  for mode in --check-replay --replay; do
    STATUS=0
    "$GAME" $mode "$file.nsr" >out.txt 2>err.txt || STATUS=$?
    [ "$STATUS" = 2 ] || fail "$mode $file: status $STATUS"
    [ "$(wc -l <err.txt)" = 1 ] || fail "$mode $file: stderr: $(cat err.txt)"
    [ ! -s out.txt ] || fail "$mode $file: printed $(cat out.txt)"
  done
  echo "$file: $(cat err.txt)"
done
STATUS=0
"$GAME" --check-replay 2>err.txt || STATUS=$?
[ "$STATUS" = 2 ] && [ "$(wc -l <err.txt)" = 1 ] || fail "no file named: status $STATUS"
# An option is never taken for the file.
STATUS=0
"$GAME" --replay --mute 2>err.txt || STATUS=$?
[ "$STATUS" = 2 ] && [ "$(cat err.txt)" = "nanasplat: option '--replay' needs a value (FILE)" ] ||
  fail "--replay --mute: status $STATUS: $(cat err.txt)"

# Intact files holding what no game could (a run of 4,294,967,295 frames without a
# tick; 33.5 million runs packed into 65 KB): refused before play, at once, in little
# memory, from a file or from standard input.
CRAFT="$NANASPLAT_BUILD/tests/craft_replays"
"$CRAFT" . || fail "no crafted replays"
for file in endless_idle_frames packed_idle_runs; do
  for mode in --check-replay --replay; do
    measure="$("$CRAFT" --measure 20 "$GAME" $mode "$file.nsr" 2>err.txt)"
    echo "$mode $file: $measure: $(cat err.txt)"
    [[ "$measure" =~ ^status\ 2,\ ([0-9]+)\ ms,\ ([0-9]+)\ KB ]] || fail "$mode $file: $measure"
    [ "${BASH_REMATCH[1]}" -lt 1000 ] || fail "$mode $file: took ${BASH_REMATCH[1]} ms"
    [ "${BASH_REMATCH[2]}" -lt 51200 ] || fail "$mode $file: ${BASH_REMATCH[2]} KB resident"
    [ "$(wc -l <err.txt)" = 1 ] && grep -q "^nanasplat: $file.nsr: too long (" err.txt || fail "$mode $file: $(cat err.txt)"
  done
  STATUS=0
  "$GAME" --check-replay - <"$file.nsr" >out.txt 2>err.txt || STATUS=$?
  [ "$STATUS" = 2 ] && [ "$(wc -l <err.txt)" = 1 ] && [ ! -s out.txt ] || fail "stdin $file: status $STATUS"
done
STATUS=0
head -c 2000000 /dev/zero | "$GAME" --check-replay - 2>err.txt || STATUS=$?
[ "$STATUS" = 2 ] && [ "$(cat err.txt)" = "nanasplat: -: too large for a replay" ] || fail "stdin zeros: $(cat err.txt)"
echo ok
