# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the end-to-end tests: a private Xvfb, a copy of the game in a scratch
# directory (so "scores" and "debug.txt" of the build stay untouched), and helpers to
# drive it with xdotool and look at it with ImageMagick.
set -euo pipefail

: "${NANASPLAT_BUILD:?}" "${NANASPLAT_SOURCE:?}"
source "$NANASPLAT_SOURCE/scripts/xvfb.sh"
source "$NANASPLAT_SOURCE/tests/e2e/screen_lib.sh"

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
# The player's own scores and settings stay in the scratch directory too.
export XDG_DATA_HOME="$WORK/data" XDG_CONFIG_HOME="$WORK/config"
# A demo starts after 30 s on the title menu and would cover it in a test that stays
# there longer (a sanitizer build under load starts slowly): only the attract test, which
# sets its own idle time, sees one.
export NANASPLAT_ATTRACT_IDLE_MS="${NANASPLAT_ATTRACT_IDLE_MS:-86400000}"
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

log_has() { grep -qF -- "$1" "$LOG" 2>/dev/null; }
# wait_for_log MESSAGE [SECONDS]: until a log line ends with MESSAGE.
wait_for_log() { wait_until "${2:-10}" "no log line \"$1\" within ${2:-10}s" log_has "$1"; }

game_ended() { ! kill -0 "$GAME_PID" 2>/dev/null; }
# wait_for_exit [SECONDS]: sets EXIT_STATUS once the game has ended.
wait_for_exit() {
  wait_until "${1:-10}" "the game did not end within ${1:-10}s" game_ended
  EXIT_STATUS=0
  wait "$GAME_PID" || EXIT_STATUS=$?
  GAME_PID=""
}

game_window() { xdotool search --name '^demo$' | head -n1; }

has_window() { [ -n "$(game_window)" ]; }
wait_for_window() {
  wait_until 10 "no window titled demo" has_window
  WINDOW="$(game_window)"
  xdotool windowfocus "$WINDOW" 2>/dev/null || true
}

# The window sits at the top-left of the screen without a window manager, so window
# and screen coordinates agree.
click_at() {  # x y: left button pressed and released there
  xdotool mousemove "$1" "$2"; sleep 0.15
  xdotool mousedown 1; sleep 0.15; xdotool mouseup 1; sleep 0.3
}
# A key held for a moment, as a player presses it: screens that poll the key state
# (rather than the key buffer) could miss a press and release sent back to back.
press_key() { xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; sleep 0.3; }

screenshot() { import -window root "$1"; }
# pixel FILE X Y: the colour as "r,g,b" in 0..255
pixel() {
  convert "$1" -format '%[fx:int(255*p{'"$2"','"$3"'}.r)],%[fx:int(255*p{'"$2"','"$3"'}.g)],%[fx:int(255*p{'"$2"','"$3"'}.b)]' info:
}

send_close() { "$NANASPLAT_BUILD/tests/send_close" demo; }

expect_text() {
  shows_text "$@" || fail "\"$2\" not shown at ($3, $4): $TEXT_DIFF pixels differ"
}
# shows_now TEXT CENTRE_X TOP_Y [R G B] (and shows_not): whether a screenshot taken now,
# kept in "$WORK/now.png", shows TEXT there (does not).
shows_now() { screenshot "$WORK/now.png" && shows_text "$WORK/now.png" "$@"; }
shows_not() { screenshot "$WORK/now.png" && ! shows_text "$WORK/now.png" "$@"; }
# wait_for_text SECONDS TEXT CENTRE_X TOP_Y [R G B]: until the screen shows TEXT there;
# the screenshot that showed it is "$WORK/now.png".
wait_for_text() {
  local limit="$1"; shift
  wait_until "$limit" "\"$1\" not shown at ($2, $3) within ${limit}s" shows_now "$@"
}

# expect_picture SHOT PICTURE: the screenshot shows PICTURE centred on the screen
# (a band across its middle is compared, away from any buttons drawn over it).
expect_picture() {
  local shot="$1" picture="$2" pw ph x y diff
  read -r pw ph <<<"$(identify -format '%w %h' "$picture")"
  x=$(((1024 - pw) / 2)); y=$(((768 - ph) / 2))
  convert "$shot" -crop "${pw}x$((ph / 3))+${x}+$((y + ph / 4))" +repage "$WORK/crop.ppm"
  convert "$picture" -crop "${pw}x$((ph / 3))+0+$((ph / 4))" +repage "$WORK/want.ppm"
  diff="$(compare -metric AE -fuzz 8% "$WORK/crop.ppm" "$WORK/want.ppm" null: 2>&1 || true)"
  [ "${diff%%.*}" -le $((pw * ph / 3 / 100)) ] || fail "$(basename "$picture") not shown: $diff pixels differ"
}

# wait_for_picture PICTURE [SECONDS]: until the screen shows PICTURE centred (a slow
# machine or a sanitizer build may take a while to load and draw it).
wait_for_picture() {
  local picture="$1" limit="${2:-10}" waited=0
  until screenshot "$WORK/now.png" && (expect_picture "$WORK/now.png" "$picture") 2>/dev/null; do
    sleep 0.3; waited=$((waited + 1))
    [ $waited -gt $((limit * 3)) ] && expect_picture "$WORK/now.png" "$picture"
  done
  return 0
}

# The menu's buttons: labels centred on the screen's middle (or 100 from an edge),
# rows at SCREEN_H - 200, -150, -100, -50. A point well inside a button:
button_point() {  # centre_x top_y -> "x y"
  echo "$(($1 + 4)) $(($2 + 10))"
}
click_button() { local p; p="$(button_point "$1" "$2")"; click_at ${p% *} ${p#* }; }

# expect_red SHOT X Y: the pixel is the buttons' red outline.
expect_red() {
  local rgb r g b
  rgb="$(pixel "$1" "$2" "$3")"; IFS=, read -r r g b <<<"$rgb"
  [ "$r" -ge 240 ] && [ "$g" -le 16 ] && [ "$b" -le 16 ] || fail "($2, $3) is $rgb, not red"
}
expect_black() {
  local rgb r g b
  rgb="$(pixel "$1" "$2" "$3")"; IFS=, read -r r g b <<<"$rgb"
  [ "$r" -le 16 ] && [ "$g" -le 16 ] && [ "$b" -le 16 ] || fail "($2, $3) is $rgb, not black"
}

# Keeps a screenshot for the README when NANASPLAT_SCREENSHOTS names a directory.
keep_screenshot() {  # SHOT NAME
  [ -n "${NANASPLAT_SCREENSHOTS:-}" ] && cp "$1" "$NANASPLAT_SCREENSHOTS/$2" || true
}

# The game up to its title menu, with the pointer parked in a corner.
start_to_menu() {
  start_xvfb
  start_game
  wait_for_log "Beginning game loop"
  wait_for_window
  xdotool mousemove 2 2
  wait_for_picture "$GAME_DIR/media/title800_3.bmp"
  sleep 0.2
}

# begin_single_player: from the title menu, "Single Player", its level screen, and on
# past it into play, each step once the screen shows the one before.
begin_single_player() {
  click_button 512 568
  wait_for_text 10 "Press any key to begin." 512 424
  press_key space
  wait_until 10 "play did not begin" shows_not "Press any key to begin." 512 424
}

# shows_time_up SHOT: a screenshot in SHOT shows the time-up screen (white at the bottom).
shows_time_up() {
  screenshot "$1" && convert "$1" -crop 1x1+512+760 -format '%[fx:int(255*r)]' info: | grep -qx 255
}

# From the title menu: a one-player game left to run until level 1's time is up; the
# time-up screen is then in "$WORK/end.png".
play_until_time_up() {
  begin_single_player
  sleep 55   # level 1 lasts 55 seconds
  wait_until 10 "play did not end" shows_time_up "$WORK/end.png"
  sleep 0.3; screenshot "$WORK/end.png"
}
