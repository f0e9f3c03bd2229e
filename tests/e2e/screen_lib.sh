# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by every end-to-end test: the one bounded wait, and whether a screenshot shows
# a text in the game's font. The caller defines fail, WORK (scratch files) and GAME_DIR
# (a game with its media directory, for the font).

# now_ms: milliseconds since boot, from the kernel's monotonic uptime (10 ms steps). The
# clock for every elapsed time a test judges: the wall clock (date, $SECONDS) may be
# stepped by the machine's time keeping in the middle of a test.
now_ms() {
  local up _
  read -r up _ </proc/uptime
  echo $((10#${up/./} * 10))
}

# wait_until SECONDS WHAT COMMAND...: runs COMMAND every tenth of a second until it
# succeeds, and fails the test with "WHAT" when SECONDS have passed. The one wait of
# the end-to-end tests: it returns 0 once COMMAND has succeeded, whatever the loop did.
wait_until() {
  local limit="$1" what="$2"; shift 2
  local tenths=0
  until "$@"; do
    if [ $tenths -ge $((limit * 10)) ]; then fail "$what"; fi
    sleep 0.1; tenths=$((tenths + 1))
  done
  return 0
}

# shows_text SHOT TEXT CENTRE_X TOP_Y [R G B]: whether the screenshot shows TEXT in the
# game's font, centred on CENTRE_X with its top at TOP_Y, as the game draws it (black,
# or the colour given, on white), over whatever lies behind it (text_shown.py compares
# only what the text decides). Sets TEXT_DIFF to the count of differing pixels.
# Crops are compared as PPM, always three channels: ImageMagick 7 compares a
# grayscale PNG (a crop of plain white is written as one) with a colour picture by its
# one channel, so red text on white would match white.
shows_text() {
  local shot="$1" text="$2" cx="$3" top="$4" size w h x
  shift 4
  size="$("$NANASPLAT_BUILD/tests/render_text" "$GAME_DIR/media/font.dat" "$text" "$WORK/text.bmp" "$@")"
  read -r w h <<<"$size"
  x=$((cx - w / 2))
  # TEXT_SKIP_ROWS leaves out the text's top rows (a button's outline runs through them).
  local skip="${TEXT_SKIP_ROWS:-0}"
  h=$((h - skip))
  convert "$shot" -crop "${w}x${h}+${x}+$((top + skip))" +repage "$WORK/crop.ppm"
  convert "$WORK/text.bmp" -crop "${w}x${h}+0+${skip}" +repage "$WORK/text.ppm"
  local status=0
  TEXT_DIFF="$(python3 "$NANASPLAT_SOURCE/tests/e2e/text_shown.py" "$WORK/crop.ppm" "$WORK/text.ppm")" || status=$?
  [ "$status" = 0 ]
}
