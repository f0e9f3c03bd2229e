# Shared by the end-to-end tests: a private Xvfb, a copy of the game in a scratch
# directory (so "scores" and "debug.txt" of the build stay untouched), and helpers to
# drive it with xdotool and look at it with ImageMagick.
set -euo pipefail

: "${NANASPLAT_BUILD:?}" "${NANASPLAT_SOURCE:?}"
source "$NANASPLAT_SOURCE/scripts/xvfb.sh"

for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

WORK="$(mktemp -d /tmp/nanasplat-e2e-XXXXXX)"
GAME_DIR="$WORK/game"          # the executable with its media directory beside it
RUN_DIR="$WORK/run"            # where the game is started: debug.txt lands here
LOG="$RUN_DIR/debug.txt"
SHOTS="${NANASPLAT_SCREENSHOTS:-$WORK/shots}"
GAME_PID=""
mkdir -p "$GAME_DIR" "$RUN_DIR" "$SHOTS"
cp "$NANASPLAT_BUILD/nanasplat" "$GAME_DIR/"
cp -r "$NANASPLAT_BUILD/media" "$GAME_DIR/media"
rm -f "$GAME_DIR/media/scores"

e2e_cleanup() {
  [ -n "$GAME_PID" ] && kill "$GAME_PID" 2>/dev/null || true
  stop_xvfb
  [ -n "${KEEP_E2E:-}" ] || rm -rf "$WORK"
}
trap e2e_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -f "$LOG" ] && { echo "--- debug.txt ---" >&2; cat "$LOG" >&2; }
  exit 1
}

# The log without the "(path:line) " prefixes.
log_messages() { sed -E 's/^\([^)]*\) //' "$LOG" 2>/dev/null || true; }

start_game() {
  (cd "$RUN_DIR" && exec "$GAME_DIR/nanasplat" >"$WORK/stdout.txt" 2>&1) &
  GAME_PID=$!
}

# wait_for_log MESSAGE [SECONDS]: until a log line ends with MESSAGE.
wait_for_log() {
  local message="$1" limit="${2:-10}" waited=0
  until grep -qF -- "$message" "$LOG" 2>/dev/null; do
    sleep 0.1; waited=$((waited + 1))
    [ $waited -gt $((limit * 10)) ] && fail "no log line \"$message\" within ${limit}s"
  done
  return 0
}

# wait_for_exit [SECONDS]: sets EXIT_STATUS once the game has ended.
wait_for_exit() {
  local limit="${1:-10}" waited=0
  while kill -0 "$GAME_PID" 2>/dev/null; do
    sleep 0.1; waited=$((waited + 1))
    [ $waited -gt $((limit * 10)) ] && fail "the game did not end within ${limit}s"
  done
  EXIT_STATUS=0
  wait "$GAME_PID" || EXIT_STATUS=$?
  GAME_PID=""
}

game_window() { xdotool search --name '^demo$' | head -n1; }

wait_for_window() {
  local waited=0
  until [ -n "$(game_window)" ]; do
    sleep 0.1; waited=$((waited + 1))
    [ $waited -gt 100 ] && fail "no window titled demo"
  done
  WINDOW="$(game_window)"
  xdotool windowfocus "$WINDOW" 2>/dev/null || true
}

# The window sits at the top-left of the screen without a window manager, so window
# and screen coordinates agree.
click_at() {  # x y: left button pressed and released there
  xdotool mousemove "$1" "$2"; sleep 0.15
  xdotool mousedown 1; sleep 0.15; xdotool mouseup 1; sleep 0.3
}
press_key() { xdotool key --window "$WINDOW" "$1"; sleep 0.3; }

screenshot() { import -window root "$1"; }
# pixel FILE X Y: the colour as "r,g,b" in 0..255
pixel() {
  convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)],%[fx:int(255*p{'"$2"','"$3"'}.g)],%[fx:int(255*p{'"$2"','"$3"'}.b)]' info:
}

send_close() { "$NANASPLAT_BUILD/tests/send_close" demo; }
