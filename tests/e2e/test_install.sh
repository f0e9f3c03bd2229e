#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The installed game: `cmake --install` into a scratch prefix, the tree moved elsewhere,
# the game started through a link to its launcher from an unrelated working directory;
# it finds its font and pictures, and the listed files are all there is to uninstall.
source "$(dirname "$0")/lib.sh"

# The test's install must not replace the list of a real install made from this build.
MANIFEST="$NANASPLAT_BUILD/install_manifest.txt"
[ -f "$MANIFEST" ] && cp "$MANIFEST" "$WORK/manifest.saved"
restore_manifest() {
  if [ -f "$WORK/manifest.saved" ]; then cp "$WORK/manifest.saved" "$MANIFEST"; else rm -f "$MANIFEST"; fi
  e2e_cleanup
}
trap restore_manifest EXIT

PREFIX="$WORK/prefix"
cmake --install "$NANASPLAT_BUILD" --prefix "$PREFIX" >"$WORK/install.txt" 2>&1 ||
  fail "install failed: $(cat "$WORK/install.txt")"
cp "$MANIFEST" "$WORK/manifest.txt"

for file in bin/nanasplat lib/nanasplat/nanasplat share/applications/nanasplat.desktop \
            share/icons/hicolor/64x64/apps/nanasplat.png lib/nanasplat/media/font.dat \
            lib/nanasplat/media/title800_3.bmp; do
  [ -f "$PREFIX/$file" ] || fail "$file not installed"
done
[ -x "$PREFIX/bin/nanasplat" ] || fail "the launcher is not executable"
[ "$(identify -format '%m %w %h' "$PREFIX/share/icons/hicolor/64x64/apps/nanasplat.png")" = "PNG 64 64" ] ||
  fail "the icon is not a 64 x 64 PNG"
grep -qx "Exec=$PREFIX/bin/nanasplat" "$PREFIX/share/applications/nanasplat.desktop" ||
  fail "the desktop entry does not start the launcher: $(cat "$PREFIX/share/applications/nanasplat.desktop")"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$PREFIX/share/applications/nanasplat.desktop" || fail "invalid desktop entry"
fi

# Every installed file is listed for uninstalling, and nothing else is there.
diff <(sort "$WORK/manifest.txt") <(find "$PREFIX" -type f | sort) >&2 ||
  fail "install_manifest.txt and the installed files differ"

# Moved to another place and started through a link from elsewhere.
MOVED="$WORK/elsewhere/games"
mkdir -p "$WORK/elsewhere" "$WORK/links"
mv "$PREFIX" "$MOVED"
ln -s "$MOVED/bin/nanasplat" "$WORK/links/nanasplat"
start_xvfb
(cd "$RUN_DIR" && exec "$WORK/links/nanasplat" >"$WORK/stdout.txt" 2>&1) &
GAME_PID=$!
wait_for_log "Beginning game loop"
wait_for_window
wait_for_picture "$MOVED/lib/nanasplat/media/title800_3.bmp"

log_messages | grep -A1 -x "Loading font font.dat" | tail -n1 | grep -qx "Setting global font" ||
  fail "the font was not loaded"
grep -q "Failed" "$LOG" && fail "something was not found"
[ ! -e "$MOVED/lib/nanasplat/media/debug.txt" ] || fail "debug.txt written beside the game"

send_close
wait_for_exit 10
[ "$EXIT_STATUS" = 0 ] || fail "the installed game ended with status $EXIT_STATUS"

# Uninstalling as the README says removes every installed file.
sed "s|^$PREFIX/|$MOVED/|" "$WORK/manifest.txt" | xargs rm
[ -z "$(find "$MOVED" -type f)" ] || fail "files left after uninstalling: $(find "$MOVED" -type f)"
echo ok
