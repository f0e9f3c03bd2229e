#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Network games met through the lobby (nanasplat-server) on 127.0.0.1: the host shows
# its code, the joiner joins by code and they play directly; a wrong code is told at
# once; the server killed mid-game leaves a direct pair playing; the joiner's Escape ends
# the game at the same tick on both, with replays that check alike; SIGTERM ends the
# server cleanly.
source "$(dirname "$0")/pair_lib.sh"
need_server
start_server
new_side host
new_side join
new_side wrong
HOST_PORT="$(free_port)"
start_side host 0 --host "$HOST_PORT" --lobby "127.0.0.1:$LOBBY_PORT"
HOST_PID=$SIDE_PID
wait_for_log host "Network game: your code is " 10
CODE="$(log_of host | sed -n 's/^Network game: your code is //p' | head -1)"
echo "code: $CODE"
[[ "$CODE" =~ ^[2-9A-HJKMNP-Z]{4}-[2-9A-HJKMNP-Z]{4}$ ]] || fail "not a code: '$CODE'"

# A wrong code: told at once.
WRONG="$( [ "$CODE" = "2222-2222" ] && echo 3333-3333 || echo 2222-2222 )"
start_side wrong 1 --join "$WRONG" --lobby "127.0.0.1:$LOBBY_PORT"
wait_for_log wrong "Network game: No game has that code (or it expired)." 3
kill "$SIDE_PID" 2>/dev/null || true

START_MS=$(now_ms)
start_side join 1 --join "$(echo "$CODE" | tr 'A-Z' 'a-z')" --lobby "127.0.0.1:$LOBBY_PORT"
JOIN_PID=$SIDE_PID
wait_for_log join "playing as player 2" 10
echo "from --join CODE to connected: $(( $(now_ms) - START_MS )) ms (process start included)"
wait_for_log host "playing as player 1" 5
log_of join | grep -qx "Network game: playing directly" || fail "the joiner does not say it plays directly"
log_of host | grep -qx "Network game: playing directly" || fail "the host does not say it plays directly"
wait_for_screen "0 1" 10 "Press any key to begin." 512 424
press 0 space
press 1 space
# The server dies mid-game: a direct pair plays on.
on 0 keydown Right; on 1 keydown Left
kill -9 "$SERVER_PID"
sleep 4
on 0 keyup Right; on 1 keyup Left
log_of host | grep -q "^Game over" && fail "the host's game ended with the server"
log_of join | grep -q "^Game over" && fail "the joiner's game ended with the server"
# Escape on the joiner: both end at the same tick, with the same record.
quit_and_check host join

# SIGTERM ends a server cleanly.
start_server
kill -TERM "$SERVER_PID"
wait_for_end "$SERVER_PID" 5
[ "$STATUS" = 0 ] || fail "the server ended with status $STATUS"
grep -q "^Stopped$" "$WORK/server.log" || fail "no 'Stopped' line: $(cat "$WORK/server.log")"
echo ok
