#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Network games: two game processes, each on its own virtual display, joined over
# 127.0.0.1 through a relay that delays and drops datagrams. A whole level played to
# time up with the same end on both, both replays recorded alike; a killed process
# noticed by the other within about three seconds; Escape on one ends the other's game
# with "the other player left"; the high-score name entry serves the connection (a slow
# name is no silence, a player gone meanwhile is noticed there).
source "$(dirname "$0")/pair_lib.sh"
# A host and a joiner reaching the first level's screen; the joiner through the relay
# when RELAY_ARGS (delay, jitter, loss) are given.
start_pair() {  # HOST_NAME JOIN_NAME [DELAY_MS JITTER_MS LOSS]
  new_side "$1"
  new_side "$2"
  HOST_PORT="$(free_port)"
  start_side "$1" 0 --host "$HOST_PORT"
  HOST_PID=$SIDE_PID
  wait_for_log "$1" "Network game: waiting for a player on port $HOST_PORT" 20
  JOIN_PORT="$HOST_PORT"
  if [ $# -gt 2 ]; then
    rm -f "$WORK/relay.port"
    python3 "$NANASPLAT_SOURCE/tests/e2e/udp_relay.py" "$HOST_PORT" "$3" "$4" "$5" 240 "$WORK/relay.port" &
    PIDS+=("$!")
    wait_until 5 "the relay did not start" test -s "$WORK/relay.port"
    JOIN_PORT="$(cat "$WORK/relay.port")"
  fi
  start_side "$2" 1 --join "127.0.0.1:$JOIN_PORT"
  JOIN_PID=$SIDE_PID
  wait_for_log "$2" "Network game: connected to 127.0.0.1:$JOIN_PORT, playing as player 2" 20
  wait_for_log "$1" "playing as player 1" 10
  log_of "$1" | grep -qE "^Network game: connected to 127\.0\.0\.1:[0-9]+, playing as player 1$" ||
    fail "the host's connection line"
  wait_for_screen "0 1" 10 "Press any key to begin." 512 424
  press 0 space
  press 1 space
}

# --- A whole level, to time up, through a relay (30 ms each way, 2 % lost) ------------
start_pair host1 join1 30 10 0.02
# Both players roll about for most of the level's 55 seconds, and let go of every key
# before it ends (a key still held would end the time-up screen at once): rounds of
# 4.5 s while 40 s have not passed, however slowly a loaded machine runs xdotool.
play_began=$(now_ms)
for round in $(seq 10); do
  [ $(($(now_ms) - play_began)) -lt 40000 ] || break
  on 0 keydown Right; on 1 keydown Left; sleep 1.5
  on 0 keyup Right; on 1 keyup Left
  on 0 keydown Left; on 1 keydown space; sleep 1.5
  on 0 keyup Left; on 1 keyup space
  sleep 1.5
done
wait_for_log host1 "Game over (time up)" 40
wait_for_log join1 "Game over (time up)" 10
HOST_END="$(log_of host1 | grep "^Game over")"
JOIN_END="$(log_of join1 | grep "^Game over")"
[ "$HOST_END" = "$JOIN_END" ] || fail "the two games ended apart: '$HOST_END' / '$JOIN_END'"
log_of host1 | grep -q "out of step" && fail "out of step"
# Time up, each player's own name in their own table, then no second game: each key
# once both displays show the screen it is for.
wait_for_screen "0 1" 10 "Press any key to continue." 512 424
for side in 0 1; do press $side space; done
wait_for_screen "0 1" 10 "High Score #1 / 10!" 512 50
on 0 type --delay 100 "Host"
on 1 type --delay 100 "Joiner"
for side in 0 1; do press $side Return; done
wait_for_screen "0 1" 10 "Best of the Bunch" 512 20
for side in 0 1; do press $side Return; done
wait_for_screen "0 1" 10 "Play again? (Enter: yes, Escape: no)" 512 384
on 0 keydown Escape; on 1 keydown Escape; sleep 0.5; on 0 keyup Escape; on 1 keyup Escape
wait_for_end "$HOST_PID" 15
[ "$STATUS" = 0 ] || fail "host status $STATUS"
wait_for_end "$JOIN_PID" 15
[ "$STATUS" = 0 ] || fail "joiner status $STATUS"
grep -q "^Host$" "$WORK/host1/game/media/scores" || fail "the host's table: $(cat "$WORK/host1/game/media/scores")"
grep -q "^Joiner$" "$WORK/join1/game/media/scores" || fail "the joiner's table"
# Both recorded the game; both replays say the same of it.
for side in host1 join1; do
  [ -f "$WORK/$side/game/media/replays/last.nsr" ] || fail "$side recorded no replay"
  (cd "$WORK/$side/run" && DISPLAY="${DISPLAYS[0]}" "$WORK/$side/game/nanasplat" \
    --check-replay "$WORK/$side/game/media/replays/last.nsr" >"$WORK/$side/check.txt" 2>&1) || true
done
cmp -s "$WORK/host1/game/media/replays/last.nsr" "$WORK/join1/game/media/replays/last.nsr" ||
  fail "the two computers recorded different replays"
HOST_CHECK="$(cat "$WORK/host1/check.txt")"
JOIN_CHECK="$(cat "$WORK/join1/check.txt")"
echo "host: $HOST_CHECK"
echo "joiner: $JOIN_CHECK"
[ "${HOST_CHECK%%:*}" = "${JOIN_CHECK%%:*}" ] || fail "the replays differ: '$HOST_CHECK' / '$JOIN_CHECK'"
[ "$HOST_CHECK" = "$JOIN_CHECK" ] || fail "the replays' checks differ"
case "$HOST_CHECK" in *": matches") ;; *) fail "the network game's replay does not check as a match: $HOST_CHECK" ;; esac

# --- A killed process: the other ends within about three seconds ---------------------
start_pair host2 join2
sleep 2
kill -9 "$JOIN_PID"
KILLED_AT=$(now_ms)
wait_for_log host2 "Game over (connection lost)" 5
ELAPSED_MS=$(($(now_ms) - KILLED_AT))
echo "lost connection noticed after $ELAPSED_MS ms"
[ $ELAPSED_MS -le 3600 ] || fail "the lost connection took $ELAPSED_MS ms to notice"
kill "$HOST_PID" 2>/dev/null || true

# --- Escape on one: the other player left --------------------------------------------
start_pair host3 join3
sleep 2
# Both computers end the game at the same tick and keep the same record.
quit_and_check host3 join3

# --- The name entry: ten seconds typing are no silence; a player gone is noticed --------
start_pair host4 join4
wait_for_log host4 "Game over (time up)" 70
wait_for_log join4 "Game over (time up)" 10
wait_for_screen "0 1" 10 "Press any key to continue." 512 424
for side in 0 1; do press $side space; done   # the time-up screens: on to the name entry
wait_for_screen "0 1" 10 "High Score #1 / 10!" 512 50
on 0 type --delay 100 "Host"
press 0 Return                                 # the host's table, then "Play again?"
wait_for_screen 0 10 "Best of the Bunch" 512 20
press 0 Return
wait_for_screen 0 10 "Play again? (Enter: yes, Escape: no)" 512 384
on 1 type --delay 100 "J"
sleep 10                                       # the joiner still types
kill -0 "$HOST_PID" 2>/dev/null || fail "the host gave up while the other player typed a name"
log_of host4 | grep -q "connection lost" && fail "a name typed slowly ended the host's game"
kill -9 "$HOST_PID"
sleep 4.5                                      # the joiner is still in the name entry
press 1 Return                                 # its table, then "Play again?"
wait_for_screen 1 10 "Best of the Bunch" 512 20
press 1 Return
LEFT_AT=$(now_ms)
wait_for_end "$JOIN_PID" 5
ELAPSED_MS=$(($(now_ms) - LEFT_AT))
echo "the host gone during the name entry: the joiner ended $ELAPSED_MS ms after leaving its table"
[ "$STATUS" = 0 ] || fail "joiner status $STATUS"
[ $ELAPSED_MS -le 1500 ] || fail "the joiner noticed the host gone only $ELAPSED_MS ms after its name entry"
grep -q "^J$" "$WORK/join4/game/media/scores" || fail "the joiner's name was not kept"
echo ok
