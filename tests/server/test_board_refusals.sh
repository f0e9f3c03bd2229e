#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The board takes a real game played to time up and refuses, each with its reason kept
# and shown, everything else: a forged summary, changed controls, a truncated or crafted
# file, other pictures, arithmetic it cannot reproduce, a game that was quit, the same
# game sent again (by anyone, under any name), a file over 1 MB, names that are no short
# valid UTF-8, and more replays from one address than its rate allows. The board is
# unchanged after each refusal.
#
#   test_board_refusals.sh SERVER SCRIPT_GAMES CRAFT_REPLAYS CRAFT_BOARD_REPLAYS
set -euo pipefail
SERVER=$1 GAMES=$2 CRAFT=$3 BOARD_CRAFT=$4
WORK=$(mktemp -d)
source "$(dirname "$0")/lib.sh"
trap 'stop_servers; rm -rf "$WORK"' EXIT

# The fixtures: a real game that ended at time up (level 2, 21 points), one that was quit,
# and what is made from the first.
"$GAMES" --no-window --name g "$WORK" 7 1 --rock --frames 6000 6000 | grep -q 'time up' || fail "no time-up game"
"$GAMES" --no-window --name q "$WORK" 3 1 --rock --frames 400 400 | grep -q 'quit' || fail "no quit game"
good=$WORK/g-1.nsr
"$GAMES" --tamper "$good" "$WORK/changed_controls.nsr"
"$GAMES" --tamper "$good" "$WORK/other_media.nsr" 1.0 0x12345678
"$BOARD_CRAFT" forge "$good" "$WORK/forged_summary.nsr"
"$BOARD_CRAFT" math "$good" "$WORK/library_math.nsr"
head -c $(( $(stat -c %s "$good") - 40 )) "$good" > "$WORK/truncated.nsr"
mkdir "$WORK/crafted" && "$CRAFT" "$WORK/crafted"
head -c 1048577 /dev/urandom > "$WORK/over_1mb.nsr"

port=$(free_port)
start_server "$port" "$WORK/state" "$WORK/server.log"

# refused_after_check FILE REASON: stored, re-run, refused with REASON; the board as it was.
refused_after_check() {
  local before answer id state
  before=$(board_snapshot "$port")
  answer=$(submit "$port" "$1" Mallory)
  [[ $answer == 202\ * ]] || fail "$1: not taken for checking: $answer"
  id=$(sed 's/.*"id":\([0-9]*\).*/\1/' <<<"$answer")
  state=$(verdict "$port" "$id")
  [[ $state == *'"status":"refused"'* && $state == *"$2"* ]] || fail "$1: expected refused with '$2', got $state"
  [ "$(board_snapshot "$port")" == "$before" ] || fail "$1: the board changed"
  echo "refused as it should: $(basename "$1"): $2"
}

# refused_at_once FILE NAME STATUS REASON [CURL-ARGUMENT...]: answered STATUS, nothing stored.
refused_at_once() {
  local file=$1 name=$2 status=$3 reason=$4 before answer
  shift 4
  before=$(board_snapshot "$port")
  answer=$(submit "$port" "$file" "$name" "$@")
  [[ $answer == "$status "* && $answer == *"$reason"* ]] || fail "$file as '$name': expected $status '$reason', got $answer"
  [ "$(board_snapshot "$port")" == "$before" ] || fail "$file as '$name': the board changed"
  echo "refused as it should: $(basename "$file") as '$name': $reason"
}

refused_after_check "$WORK/forged_summary.nsr" "does not end as the file says"
refused_after_check "$WORK/changed_controls.nsr" "does not end as the file says"
refused_after_check "$WORK/truncated.nsr" "cannot be read"
refused_after_check "$WORK/crafted/endless_idle_frames.nsr" "cannot be read"
refused_after_check "$WORK/crafted/packed_idle_runs.nsr" "cannot be read"
refused_after_check "$WORK/other_media.nsr" "other pictures"
refused_after_check "$WORK/library_math.nsr" "arithmetic this board cannot reproduce"
refused_after_check "$WORK/q-1.nsr" "did not end at time up"
refused_at_once "$WORK/over_1mb.nsr" Mallory 413 "over 1 MB"
refused_at_once "$good" '%FF%FE' 400 "not valid UTF-8"
refused_at_once "$good" "$(printf 'x%.0s' $(seq 25))" 400 "too long"
refused_at_once "$good" 'Ann%0A' 400 "control character"
refused_at_once "$good" '' 400 "a name is needed"
refused_at_once "$good" '%20%20' 400 "a name is needed"

# The real game goes on the board under its name, shown as text.
answer=$(submit "$port" "$good" 'Ann%20%3Cb%3EBold%3C%2Fb%3E')
id=$(sed 's/.*"id":\([0-9]*\).*/\1/' <<<"$answer")
state=$(verdict "$port" "$id")
[[ $state == *'"status":"verified"'* && $state == *'"rank":1'* ]] || fail "the real game was not verified: $state"
scores=$(curl -s "http://127.0.0.1:$port/api/scores?mode=1p&period=all")
[[ $scores == *'"name":"Ann <b>Bold</b>"'*'"score":21'* ]] || fail "the real game is not on the board: $scores"
page=$(curl -s "http://127.0.0.1:$port/")
[[ $page == *'Ann &lt;b&gt;Bold&lt;/b&gt;'* && $page != *'<b>Bold'* ]] || fail "the name is not shown as text"
cmp -s <(curl -s "http://127.0.0.1:$port/replays/$id.nsr") "$good" || fail "the replay offered is not the one sent"
echo "on the board: $state"

# The same game again: from another address and under another name, or the same one.
refused_after_check "$good" "the same game is already on the board"
before=$(board_snapshot "$port")
answer=$(submit "$port" "$good" Ann -H 'X-Real-IP: 198.51.100.20')
state=$(verdict "$port" "$(sed 's/.*"id":\([0-9]*\).*/\1/' <<<"$answer")")
[[ $state == *"the same game is already on the board"* ]] || fail "the game sent again was not refused: $state"
[ "$(board_snapshot "$port")" == "$before" ] || fail "the game sent again changed the board"

# One address may send N a minute (here 2, so that the bucket cannot refill during the
# test: one more every 30 s); the next is refused, other addresses still go.
limited=$(free_port)
start_server "$limited" "$WORK/limited" "$WORK/limited.log" --submissions-per-minute 2
port=$limited
for i in 1 2; do
  answer=$(submit "$port" "$good" '%FF' -H 'X-Real-IP: 203.0.113.9')
  [[ $answer == 400\ * ]] || fail "submission $i of 2 from one address: $answer"
done
refused_at_once "$good" Ann 429 "too many replays from this address" -H 'X-Real-IP: 203.0.113.9'
answer=$(submit "$port" "$good" '%FF' -H 'X-Real-IP: 203.0.113.10')
[[ $answer == 400\ * ]] || fail "another address was limited too: $answer"

grep -q 'Board: replay .* refused in .* ms: the re-run does not end as the file says' "$WORK/server.log" ||
  fail "the log does not say why"
echo "PASS"
