# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the network end-to-end tests: two game processes, each a copy of the game with
# its own virtual display, media, table, replays and settings, and helpers to drive them.
set -euo pipefail
: "${NANASPLAT_BUILD:?}" "${NANASPLAT_SOURCE:?}"
source "$NANASPLAT_SOURCE/scripts/xvfb.sh"
source "$NANASPLAT_SOURCE/tests/e2e/screen_lib.sh"
for tool in Xvfb xdotool python3 import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

WORK="$(mktemp -d /tmp/nanasplat-net-XXXXXX)"
GAME_DIR="$NANASPLAT_BUILD"  # the font the screen checks draw with
PIDS=()
DISPLAYS=()
XVFB_PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -n "${KEEP_E2E:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for log in "$WORK"/*/run/debug.txt "$WORK"/*.out "$WORK"/server.log; do
    [ -f "$log" ] && { echo "--- $log ---" >&2; cat "$log" >&2; }
  done
  exit 1
}

for i in 0 1; do
  start_xvfb
  DISPLAYS+=("$DISPLAY")
  XVFB_PIDS+=("$XVFB_PID")
done

free_port() {
  python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# A copy of the game for one side, with its own media, table, replays and settings.
new_side() {  # NAME
  local dir="$WORK/$1"
  mkdir -p "$dir/game" "$dir/run"
  cp "$NANASPLAT_BUILD/nanasplat" "$dir/game/"
  cp -r "$NANASPLAT_BUILD/media" "$dir/game/media"
  rm -rf "$dir/game/media/scores" "$dir/game/media/replays"
}

# start_side NAME DISPLAY_INDEX ARGS...: sets SIDE_PID. With RUN_IN set (a command and its
# arguments, such as "ip netns exec NAMESPACE"), the game runs under it.
start_side() {
  local name="$1" display="${DISPLAYS[$2]}"
  shift 2
  # shellcheck disable=SC2086  # RUN_IN is words
  (cd "$WORK/$name/run" && XDG_DATA_HOME="$WORK/$name/data" XDG_CONFIG_HOME="$WORK/$name/config" \
    DISPLAY="$display" exec ${RUN_IN:-} "$WORK/$name/game/nanasplat" "$@" >"$WORK/$name/out.txt" 2>&1) &
  SIDE_PID=$!
  PIDS+=("$SIDE_PID")
}

log_of() { sed -E 's/^\([^)]*\) //' "$WORK/$1/run/debug.txt" 2>/dev/null || true; }

log_has_line() { log_of "$1" | grep -qF -- "$2"; }
wait_for_log() {  # NAME MESSAGE SECONDS
  wait_until "$3" "$1: no log line \"$2\" within $3 s" log_has_line "$1" "$2"
}
ended() { ! kill -0 "$1" 2>/dev/null; }
wait_for_end() {  # PID SECONDS: sets STATUS
  wait_until "$2" "process $1 did not end within $2 s" ended "$1"
  STATUS=0
  wait "$1" || STATUS=$?
}
# shows DISPLAY_INDEX TEXT CENTRE_X TOP_Y: whether that display shows TEXT there now.
shows() {
  local shot="$WORK/display-$1.png"
  DISPLAY="${DISPLAYS[$1]}" import -window root "$shot" && shows_text "$shot" "${@:2}"
}
# wait_for_screen "SIDES" SECONDS TEXT CENTRE_X TOP_Y: until each display of SIDES ("0 1",
# or one index) shows TEXT there.
wait_for_screen() {
  local sides="$1" limit="$2" side
  shift 2
  for side in $sides; do wait_until "$limit" "display $side: \"$1\" not shown within $limit s" shows "$side" "$@"; done
}

on() {  # DISPLAY_INDEX xdotool arguments...
  local display="${DISPLAYS[$1]}"
  shift
  DISPLAY="$display" xdotool "$@"
}
press() { on "$1" keydown "$2"; sleep 0.15; on "$1" keyup "$2"; sleep 0.3; }


# --- The lobby (nanasplat-server) on 127.0.0.1 ---------------------------------------
need_server() { [ -x "$NANASPLAT_BUILD/nanasplat-server" ] || { echo "SKIP: no nanasplat-server built"; exit 77; }; }
start_server() {  # sets LOBBY_PORT and SERVER_PID
  LOBBY_PORT="$(free_port)"
  # Emptied here, before the server starts: a line of an earlier server's log must not
  # pass for this one's "serving" (a signal sent before it serves would kill it).
  : >"$WORK/server.log"
  "$NANASPLAT_BUILD/nanasplat-server" --listen 127.0.0.1 --lobby-port "$LOBBY_PORT" --http-port 0 \
    --state "$WORK" 2>"$WORK/server.log" &
  SERVER_PID=$!
  PIDS+=("$SERVER_PID")
  wait_until 5 "the server did not start" grep -qs "serving" "$WORK/server.log"
}

check_line() {  # NAME: the --check-replay line of its last replay
  (cd "$WORK/$1/run" && DISPLAY="${DISPLAYS[0]}" "$WORK/$1/game/nanasplat" \
    --check-replay "$WORK/$1/game/media/replays/last.nsr" 2>&1) || true
}

# A host registered with the lobby and a joiner by its code, both at the first level's
# screen; sets CODE, HOST_PID, JOIN_PID and JOIN_MS (from the joiner's start to its
# "playing as player 2", its start-up included). The lobby is the one start_server began,
# or LOBBY; each side runs under its RUN_IN (see start_side) when given.
start_lobby_pair() {  # HOST_NAME JOIN_NAME [LOBBY HOST_RUN_IN JOIN_RUN_IN]
  local lobby="${3:-127.0.0.1:$LOBBY_PORT}"
  new_side "$1"
  new_side "$2"
  RUN_IN="${4:-}" start_side "$1" 0 --host "$(free_port)" --lobby "$lobby"
  HOST_PID=$SIDE_PID
  wait_for_log "$1" "Network game: your code is " 10
  CODE="$(log_of "$1" | sed -n 's/^Network game: your code is //p' | head -1)"
  local started
  started=$(now_ms)
  RUN_IN="${5:-}" start_side "$2" 1 --join "$CODE" --lobby "$lobby"
  JOIN_PID=$SIDE_PID
  wait_for_log "$2" "playing as player 2" 10
  JOIN_MS=$(($(now_ms) - started))
  wait_for_log "$1" "playing as player 1" 5
}

# Escape on the joiner (display 1) ends the game at the same tick on both; the joiner's
# program ends, the host's is stopped, and both replays give the same --check-replay
# line, a match.
quit_and_check() {  # HOST_NAME JOIN_NAME
  on 1 keydown Escape; sleep 0.5; on 1 keyup Escape
  wait_for_log "$2" "Game over (quit)" 5
  wait_for_log "$1" "Game over (the other player left)" 5
  wait_for_end "$JOIN_PID" 10
  [ "$STATUS" = 0 ] || fail "the joiner ended with status $STATUS"
  kill "$HOST_PID" 2>/dev/null || true
  wait_for_end "$HOST_PID" 5
  local hosted joined
  hosted="$(check_line "$1")"
  joined="$(check_line "$2")"
  echo "host: $hosted"
  echo "joiner: $joined"
  [ "$hosted" = "$joined" ] || fail "the two records differ"
  case "$hosted" in *": matches") ;; *) fail "the replay does not match: $hosted" ;; esac
}
