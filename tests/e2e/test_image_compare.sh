#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The end-to-end tests' eyes: shows_text finds red text where it is drawn and not on
# plain white, and expect_picture tells a picture from white, with whatever
# ImageMagick the machine has (version 7 compared a grayscale crop by one channel).
source "$(dirname "$0")/lib.sh"
TEXT="The table could not be saved."
# Pictures made here are kept as PPM (always three channels), as a screenshot is.
convert -size 1024x768 xc:white "$WORK/white.ppm"
read -r w h <<<"$("$NANASPLAT_BUILD/tests/render_text" "$GAME_DIR/media/font.dat" "$TEXT" "$WORK/red.bmp" 255 0 0)"
convert "$WORK/white.ppm" "$WORK/red.bmp" -geometry "+$((512 - w / 2))+440" -composite "$WORK/drawn.ppm"
shows_text "$WORK/white.ppm" "$TEXT" 512 440 255 0 0 && fail "red text found on plain white ($TEXT_DIFF pixels differ)"
shows_text "$WORK/drawn.ppm" "$TEXT" 512 440 255 0 0 || fail "red text not found where it was drawn ($TEXT_DIFF pixels differ)"
# The game draws its texts over whatever is there: black text drawn over a dark fly is
# still the text; plain black, or the text with a letter's width moved, is not.
read -r w h <<<"$("$NANASPLAT_BUILD/tests/render_text" "$GAME_DIR/media/font.dat" "$TEXT" "$WORK/black.bmp")"
convert "$WORK/white.ppm" -fill 'rgb(40,30,20)' -draw "rectangle 500,438 530,460" "$WORK/fly.ppm"
convert "$WORK/fly.ppm" "$WORK/black.bmp" -geometry "+$((512 - w / 2))+440" -compose Darken -composite "$WORK/over-fly.ppm"
shows_text "$WORK/over-fly.ppm" "$TEXT" 512 440 || fail "text drawn over a fly not found ($TEXT_DIFF pixels differ)"
convert -size 1024x768 xc:black "$WORK/black.ppm"
shows_text "$WORK/black.ppm" "$TEXT" 512 440 && fail "black text found on plain black ($TEXT_DIFF pixels differ)"
shows_text "$WORK/over-fly.ppm" "$TEXT" 520 440 && fail "text found 8 pixels beside where it is ($TEXT_DIFF pixels differ)"
(expect_picture "$WORK/white.ppm" "$GAME_DIR/media/title800_3.bmp") 2>/dev/null &&
  fail "the title picture found on plain white"
convert "$WORK/white.ppm" "$GAME_DIR/media/title800_3.bmp" -gravity center -composite "$WORK/title.ppm"
expect_picture "$WORK/title.ppm" "$GAME_DIR/media/title800_3.bmp"
echo ok
