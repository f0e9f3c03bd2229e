#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A game as long as a good player's (tests/replay/long/ten_minutes.nsr: about ten
# minutes of play, dozens of levels, most of them with 80 flies, played by
# tests/replay/steered_game) goes on the board: the checker re-runs it within the
# processor time its length allows (1 s, and 1 s more per 20,000 ticks) with at least
# half of it to spare, and the board shows it at its score.
#
#   test_board_long_game.sh SERVER REPLAY
set -euo pipefail
SERVER=$1 REPLAY=$2
WORK=$(mktemp -d)
source "$(dirname "$0")/lib.sh"
trap 'stop_servers; rm -rf "$WORK"' EXIT

# The checker alone, timed in processor seconds (user and system).
TIMEFORMAT='%U %S'
{ time "$SERVER-check" <"$REPLAY" >"$WORK/verdict.json"; } 2>"$WORK/time.txt"
read -r ticks score verified < <(python3 -c '
import json, sys
v = json.load(open(sys.argv[1]))
print(v["ticks"], max(v["p1"], v["p2"]), v["verified"])' "$WORK/verdict.json")
[ "$verified" = True ] || fail "the checker refused the long game: $(cat "$WORK/verdict.json")"
[ "$ticks" -ge 30000 ] || fail "the long game is only $ticks ticks"
limit=$((1 + ticks / 20000))
cpu=$(awk '{ print $1 + $2 }' "$WORK/time.txt")
echo "$ticks ticks checked in $cpu s of processor time (limit $limit s)"
awk -v c="$cpu" -v l="$limit" 'BEGIN { exit !(2 * c <= l) }' || fail "$cpu s is more than half the limit of $limit s"

# Through the board: its child, with the limits, verifies it.
port=$(free_port)
start_server "$port" "$WORK/state" "$WORK/server.log"
answer=$(submit "$port" "$REPLAY" Marathon)
state=$(verdict "$port" "$(sed 's/.*"id":\([0-9]*\).*/\1/' <<<"$answer")")
[[ $state == *'"status":"verified"'* ]] || fail "the board did not verify the long game: $state"
scores=$(curl -s "http://127.0.0.1:$port/api/scores?mode=1p&period=all")
[[ $scores == *'"name":"Marathon"'*"\"score\":$score"* ]] || fail "the long game is not on the board: $scores"
echo "PASS"
