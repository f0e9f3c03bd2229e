#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Two real games against a world score board on 127.0.0.1. The first ends at time up
# while the board's port only swallows requests (it accepts and never answers): the
# table and the title come as fast as ever, the game waits in the queue beside the
# replays, and quitting is not held up. At the next start the board is up: the queued
# game goes first and is verified under the name typed for the table; the second game
# is verified while "Best of the Bunch" is shown, and its place in the world is shown
# below the table. Then a game is taken from the board by its address and checked.
source "$(dirname "$0")/lib.sh"
SERVER="$NANASPLAT_BUILD/nanasplat-server"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
BOARD="http://127.0.0.1:$port"
HOLE_PID="" SERVER_PID=""
board_cleanup() {
  [ -n "$HOLE_PID" ] && kill "$HOLE_PID" 2>/dev/null || true
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null || true
  e2e_cleanup
}
trap board_cleanup EXIT

# A port that takes connections and never answers (a board gone quiet).
python3 -c '
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(16)
held = []
end = time.monotonic() + 240
while time.monotonic() < end:
    s.settimeout(1)
    try: held.append(s.accept()[0])
    except socket.timeout: pass' "$port" &
HOLE_PID=$!

# end_game_and_enter NAME: from the time-up screen to the table, typing NAME.
end_game_and_enter() {
  xdotool key space  # pressed and let go at once: a key held on a loaded machine repeats into the name
  sleep 0.5
  xdotool type --delay 120 "$1"
  sleep 0.3
  press_key Return
  wait_for_text 10 "Best of the Bunch" 512 20
}

# 1. The board does not answer.
start_xvfb
(cd "$RUN_DIR" && exec "$GAME_DIR/nanasplat" --scoreboard "$BOARD" >"$WORK/stdout.txt" 2>&1) &
GAME_PID=$!
wait_for_log "Beginning game loop"
wait_for_window
xdotool mousemove 2 2
wait_for_picture "$GAME_DIR/media/title800_3.bmp"
play_until_time_up
end_game_and_enter Tester
press_key Return
wait_for_picture "$GAME_DIR/media/title800_3.bmp"
# The request to the board is still hanging (it gives up after 15 s): nothing waited for it.
! log_has "World board: could not send" || fail "the table or the title waited for the board"
# The name typed (as the table holds it: a key lost on a busy machine changes nothing
# here) is the board's from now on.
typed=$(head -n 1 "$GAME_DIR/media/scores")
[ -n "$typed" ] || fail "no name in the table"
grep -qxF "name = $typed" "$XDG_CONFIG_HOME/nanasplat/settings" ||
  fail "the name '$typed' is not kept in the settings: $(cat "$XDG_CONFIG_HOME/nanasplat/settings" 2>&1)"
wait_for_log "waiting for the next start" 25
ls "$GAME_DIR"/media/replays/to-send/*.nsq >/dev/null 2>&1 || fail "the game is not queued"
xdotool keydown Escape; sleep 0.5
wait_for_exit 5
xdotool keyup Escape || true
kill "$HOLE_PID"; wait "$HOLE_PID" 2>/dev/null || true; HOLE_PID=""

# 2. The board is up: the queued game goes at the start, the second one while its table is shown.
"$SERVER" --listen 127.0.0.1 --http-port "$port" --lobby-port 0 --state "$WORK/board" 2>"$WORK/board.log" &
SERVER_PID=$!
wait_until 10 "the board did not start" curl -sf -o /dev/null "$BOARD/api/scores"
mv "$LOG" "$WORK/first-debug.txt"
(cd "$RUN_DIR" && exec "$GAME_DIR/nanasplat" --scoreboard "$BOARD" >"$WORK/stdout.txt" 2>&1) &
GAME_PID=$!
wait_for_log "Beginning game loop"
wait_for_window
xdotool mousemove 2 2
wait_for_log "World board: sent the game of \"$typed\"" 10
first_verified() { curl -s "$BOARD/api/replays/1" | grep -q '"status":"verified"'; }
wait_until 20 "the queued game was not verified: $(curl -s "$BOARD/api/replays/1")" first_verified
[ -z "$(ls "$GAME_DIR"/media/replays/to-send/ 2>/dev/null)" ] || fail "the queue was not emptied"
scores=$(curl -s "$BOARD/api/scores?mode=1p")
[[ $scores == *"\"name\":\"$typed\""* ]] || fail "the first game is not on the board under '$typed': $scores"

wait_for_picture "$GAME_DIR/media/title800_3.bmp"
begin_single_player
xdotool keydown Right; sleep 4; xdotool keyup Right   # another game than the first
sleep 51
wait_until 10 "play did not end" shows_time_up "$WORK/end.png"
end_game_and_enter Tester
wait_for_log "World board: replay 2 verified: World: " 20
line=$(sed -n 's/.*World board: replay 2 verified: //p' "$LOG")
wait_for_text 10 "$line" 512 520
keep_screenshot "$WORK/now.png" world-board-table.png
press_key Return
xdotool keydown Escape; sleep 0.5
wait_for_exit 5
xdotool keyup Escape || true
second=$(sed -n 's/^name = //p' "$XDG_CONFIG_HOME/nanasplat/settings")
scores=$(curl -s "$BOARD/api/scores?mode=1p")
[ "$(grep -o '"name":' <<<"$scores" | wc -l)" = 2 ] && [[ $scores == *"\"name\":\"$second\""* ]] ||
  fail "both games should be on the board (the second as '$second'): $scores"

# 3. Anyone may take a game from the board and watch or check it (--replay URL, --check-replay URL).
checked=$(cd "$RUN_DIR" && "$GAME_DIR/nanasplat" --check-replay "$BOARD/replays/1.nsr" 2>&1) ||
  fail "the board's replay 1 did not check: $checked"
[[ $checked == "replay: level "*": matches" ]] || fail "the board's replay 1 checked as: $checked"
log_has "Downloaded the replay $BOARD/replays/1.nsr" || fail "the download is not logged"
missing=$(cd "$RUN_DIR" && "$GAME_DIR/nanasplat" --check-replay "$BOARD/replays/99.nsr" 2>&1) &&
  fail "a replay the board does not have was checked: $missing"
[[ $missing == *"HTTP 404"* ]] || fail "a replay the board does not have: $missing"
echo ok
