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
echo ok
