#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: built from the tree by scripts/package (which checks it with
# lintian, appstreamcli and desktop-file-validate), unpacked into a scratch root, and
# played there by a player who cannot write that root: a whole game left to run out
# of time, a name entered, and the table found in that player's own
# ~/.local/share/nanasplat/scores (and the game's replay beside it), with the unpacked
# tree unchanged; its trace names the sources as a build from the tree does.
#
# Only in the plain build: the package is built from the sources with Debian's own
# flags, never with the sanitizers, so the sanitizer runs would repeat this run's
# work (a few minutes of building) without checking anything more.
source "$(dirname "$0")/lib.sh"

if grep -qE '^NANASPLAT_(SANITIZE|TSAN):BOOL=ON' "$NANASPLAT_BUILD/CMakeCache.txt"; then
  echo "SKIP: the package is built without sanitizers; the plain run tests it"
  exit 77
fi
for tool in dpkg-buildpackage lintian appstreamcli desktop-file-validate setpriv; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

# --- Build and check -------------------------------------------------------------
NANASPLAT_DIST="$WORK/dist" "$NANASPLAT_SOURCE/scripts/package" >"$WORK/package.txt" 2>&1 ||
  fail "scripts/package failed: $(cat "$WORK/package.txt")"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$NANASPLAT_BUILD/CMakeCache.txt")"
DEB="$WORK/dist/nanasplat_${version}_$(dpkg --print-architecture).deb"
[ -f "$DEB" ] || fail "no $DEB: $(cat "$WORK/package.txt")"
grep -q "passed lintian, appstreamcli and desktop-file-validate" "$WORK/package.txt" ||
  fail "the package's checks did not all run: $(cat "$WORK/package.txt")"

# Dependencies come from the libraries the game links.
dpkg-deb -f "$DEB" Depends | grep -q "liballegro4.4" || fail "no dependency on the game library"

# --- Unpack into a scratch root the player cannot write -------------------------
ROOT="$WORK/root"
PLAYER_HOME="$WORK/home"
chmod 755 "$WORK"
dpkg-deb -x "$DEB" "$ROOT"
for file in usr/games/nanasplat usr/lib/games/nanasplat/nanasplat usr/share/games/nanasplat/font.dat \
            usr/share/games/nanasplat/demos/demo-1.nsr usr/share/games/nanasplat/demos/demo-2.nsr \
            usr/share/applications/nanasplat.desktop usr/share/man/man6/nanasplat.6.gz \
            usr/share/metainfo/org.example.nanasplat.metainfo.xml usr/share/doc/nanasplat/copyright \
            usr/share/doc/nanasplat/changelog.gz; do
  [ -f "$ROOT/$file" ] || fail "$file is not in the package"
done
for size in 48 64 128 256; do
  [ "$(identify -format '%m %w %h' "$ROOT/usr/share/icons/hicolor/${size}x$size/apps/nanasplat.png")" = \
    "PNG $size $size" ] || fail "no $size x $size icon"
done
[ ! -e "$ROOT/usr/share/games/nanasplat/scores" ] || fail "the package ships a table"

mkdir -p "$PLAYER_HOME"
if [ "$(id -u)" = 0 ]; then
  # Root may write anywhere: the game runs as "nobody", who may write only its home
  # and the directory it starts in.
  chown 65534:65534 "$PLAYER_HOME" "$RUN_DIR"
  AS_PLAYER=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  chmod -R a-w "$ROOT"
  AS_PLAYER=()
  trap 'chmod -R u+w "$ROOT"; e2e_cleanup' EXIT
fi
tree_state() { (cd "$ROOT" && find . -printf '%p %M %s %T@ %l\n' | sort); }
tree_state >"$WORK/root-before.txt"

as_player() {
  (cd "$RUN_DIR" && exec ${AS_PLAYER[@]+"${AS_PLAYER[@]}"} env -u XDG_DATA_HOME -u XDG_CONFIG_HOME \
     HOME="$PLAYER_HOME" "$@")
}
[ "$(as_player "$ROOT/usr/games/nanasplat" --version)" = "nanasplat $version" ] ||
  fail "the unpacked launcher does not print the version"

# --- A whole game through the launcher on PATH ----------------------------------
start_xvfb
(cd "$RUN_DIR" && exec ${AS_PLAYER[@]+"${AS_PLAYER[@]}"} env -u XDG_DATA_HOME -u XDG_CONFIG_HOME \
   HOME="$PLAYER_HOME" "$ROOT/usr/games/nanasplat" >"$WORK/stdout.txt" 2>&1) &
GAME_PID=$!
wait_for_log "Beginning game loop" 30
TABLE="$PLAYER_HOME/.local/share/nanasplat/scores"
MEDIA="$ROOT/usr/lib/games/nanasplat/media"
wait_for_log "High-score table: $TABLE (the media directory $(readlink -f "$MEDIA")"
wait_for_window
xdotool mousemove 2 2
wait_for_picture "$ROOT/usr/share/games/nanasplat/title800_3.bmp" 20

play_until_time_up
GAME_DIR="$ROOT/usr/lib/games/nanasplat"   # shows_text renders with the game's font
expect_text "$WORK/end.png" "Time up!  The fruit flies got to you ..." 512 384

press_key space
wait_for_text 10 "High Score #1 / 10!" 512 50
cp "$WORK/now.png" "$WORK/entry.png"
expect_text "$WORK/entry.png" "High Score #1 / 10!" 512 50
xdotool type --delay 120 "Packaged"
sleep 0.3
press_key Return
wait_for_text 10 "Packaged -- 0" 512 90
cp "$WORK/now.png" "$WORK/table.png"
expect_text "$WORK/table.png" "Packaged -- 0" 512 90
shows_text "$WORK/table.png" "The table could not be saved." 512 440 255 0 0 &&
  fail "the table was reported unsaved"
[ "$(cat "$TABLE" 2>/dev/null)" = "$(printf 'Packaged\n0')" ] || fail "the player's table holds: $(cat "$TABLE" 2>&1)"
[ "$(stat -c %U "$TABLE")" = "$(as_player id -un)" ] || fail "the table does not belong to the player"

press_key Return
wait_for_picture "$ROOT/usr/share/games/nanasplat/title800_3.bmp"
xdotool keydown Escape; sleep 0.5
wait_for_exit 10
xdotool keyup Escape || true
[ "$EXIT_STATUS" = 0 ] || fail "status $EXIT_STATUS"

# The trace names its sources as a build from the tree does, whatever the
# distribution's build flags map the source directory to.
grep -qxF "(src/init.cpp:$(grep -n 'LOG("Initializing allegro.");' "$NANASPLAT_SOURCE/src/init.cpp" | cut -d: -f1)) Initializing allegro." "$LOG" ||
  fail "the trace does not name src/init.cpp as the tree does: $(head -n 2 "$LOG")"
grep '^(\./' "$LOG" >&2 && fail "trace lines name their sources under ./"

# The game's record went beside the player's table too.
[ -f "$PLAYER_HOME/.local/share/nanasplat/replays/last.nsr" ] || fail "no replays/last.nsr beside the player's table"

# --- Nothing in the unpacked tree changed ---------------------------------------
tree_state >"$WORK/root-after.txt"
diff "$WORK/root-before.txt" "$WORK/root-after.txt" >&2 || fail "the unpacked tree changed"
echo ok
