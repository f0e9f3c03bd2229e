#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A network game watched live: a host and a joiner met through the lobby (nanasplat-server
# on 127.0.0.1) play; a third game process, on its own display, runs --watch CODE and
# shows the game a few seconds behind with the red "LIVE" mark; the joiner quits, the
# spectator is told the players ended their game, and its replay checks with the very
# line the players' replays give. Its key then leads to the menu.
source "$(dirname "$0")/pair_lib.sh"
need_server
start_xvfb  # the spectator's display
DISPLAYS+=("$DISPLAY")
XVFB_PIDS+=("$XVFB_PID")
start_server
start_lobby_pair host join
echo "code: $CODE"
wait_for_screen "0 1" 10 "Press any key to begin." 512 424
press 0 space
press 1 space

new_side watch
start_side watch 2 --watch "$CODE" --lobby "127.0.0.1:$LOBBY_PORT"
WATCH_PID=$SIDE_PID
wait_for_log watch "Watching game $CODE live" 10
wait_until 5 "the server logs no spectator" grep -q "Game $(tr -d - <<<"$CODE") watched by 127.0.0.1:" "$WORK/server.log"

# The players roll about; the spectator's screen shows the game under "LIVE".
for round in 1 2 3; do
  on 0 keydown Right; on 1 keydown Left; sleep 1
  on 0 keyup Right; on 1 keyup Left
  on 0 keydown Left; on 1 keydown space; sleep 1
  on 0 keyup Left; on 1 keyup space
done
read -r mark_w _ <<<"$("$NANASPLAT_BUILD/tests/render_text" "$GAME_DIR/media/font.dat" LIVE "$WORK/live.bmp" 255 0 0)"
shows 2 LIVE $((30 + mark_w / 2)) 10 255 0 0 || fail "no LIVE mark on the spectator's screen ($TEXT_DIFF pixels differ)"
cp "$WORK/display-2.png" "$WORK/watch.png"
echo "LIVE: $TEXT_DIFF pixels differ"
# Something moves under it (a frame of play, not a still screen).
sleep 0.5
DISPLAY="${DISPLAYS[2]}" import -window root "$WORK/watch2.png"
MOVED="$(compare -metric AE "$WORK/watch.png" "$WORK/watch2.png" null: 2>&1 || true)"
[ "${MOVED%%.*}" -gt 0 ] || fail "the spectator's screen stands still"
log_of watch | grep -q "^Game over" && fail "the spectator's game ended early"

# The joiner quits: both players end at the same tick; the spectator a few seconds later.
on 1 keydown Escape; sleep 0.5; on 1 keyup Escape
wait_for_log join "Game over (quit)" 5
wait_for_log host "Game over (the other player left)" 5
wait_for_log watch "Game over (the players ended it)" 10
wait_for_log watch "Watching: The players ended their game." 2
# A key: the menu, where Escape ends the program.
sleep 0.5
press 2 space
wait_for_log watch "Play pauses when the window loses the input focus" 5  # the menu's first line
kill -0 "$WATCH_PID" || fail "the spectator's game ended instead of going to the menu"
on 2 keydown Escape; sleep 0.5; on 2 keyup Escape
wait_for_end "$WATCH_PID" 10
[ "$STATUS" = 0 ] || fail "the spectator's game ended with status $STATUS"
kill "$HOST_PID" 2>/dev/null || true
wait_for_end "$HOST_PID" 5
HOST_CHECK="$(check_line host)"
JOIN_CHECK="$(check_line join)"
WATCH_CHECK="$(check_line watch)"
echo "host: $HOST_CHECK"
echo "joiner: $JOIN_CHECK"
echo "spectator: $WATCH_CHECK"
case "$HOST_CHECK" in *": matches") ;; *) fail "the host's replay does not match: $HOST_CHECK" ;; esac
[ "$WATCH_CHECK" = "$HOST_CHECK" ] || fail "the spectator's record differs from the players'"
[ "$JOIN_CHECK" = "$HOST_CHECK" ] || fail "the players' records differ"

echo ok
