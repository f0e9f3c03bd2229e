#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The files a server links (the replay file, the play loop, the game's record, the
# re-run) and the command line's parser include no game library (Allegro), X11 or sound
# header, directly or through another header: the compiler lists every file each one
# reads.
set -euo pipefail
compiler="$1"
src="$2"
bad=0
for file in replayfile.cpp playloop.cpp gamerecord.cpp replaycheck.cpp options.cpp netoptions.cpp watchsource.cpp; do
  deps="$("$compiler" -std=c++17 -M -DNANASPLAT_VERSION='"0"' -I"$src" "$src/$file")"
  if grep -E -o '[^ ]*(allegro|X11|alsa|xalleg)[^ ]*' <<<"$deps"; then
    echo "FAIL: $file reads a game library, X11 or sound header" >&2
    bad=1
  fi
done
[ "$bad" = 0 ] || exit 1
echo "ok"
