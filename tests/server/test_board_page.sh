#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The board's page in a real browser (headless Chromium, no script needed): after games
# of one and two players are verified, it shows their tables and the chart of how the
# scores spread, and a name holding markup reads as text. The screenshot is kept as
# ARTEFACT_DIR/board-page.png (and the player's page as board-player.png).
#
#   test_board_page.sh SERVER SCRIPT_GAMES ARTEFACT_DIR
set -euo pipefail
SERVER=$1 GAMES=$2 ARTEFACTS=$3
WORK=$(mktemp -d)
source "$(dirname "$0")/lib.sh"
trap 'stop_servers; rm -rf "$WORK"' EXIT
mkdir -p "$ARTEFACTS"

"$GAMES" --no-window --name one "$WORK" 7 3 --rock --frames 4000 7000 > "$WORK/one.txt"
"$GAMES" --no-window --name two "$WORK" 11 1 --two --rock --frames 5000 5000 > "$WORK/two.txt"
port=$(free_port)
start_server "$port" "$WORK/state" "$WORK/server.log"

names=('Ann' '<script>x</script>' 'Zoë' 'Bob')
files=("$WORK"/one-1.nsr "$WORK"/one-2.nsr "$WORK"/one-3.nsr "$WORK"/two-1.nsr)
for i in "${!files[@]}"; do
  name=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "${names[$i]}")
  answer=$(submit "$port" "${files[$i]}" "$name")
  state=$(verdict "$port" "$(sed 's/.*"id":\([0-9]*\).*/\1/' <<<"$answer")")
  [[ $state == *'"verified"'* ]] || fail "${files[$i]} was not verified: $state"
done

browse() {  # browse URL PNG: a screenshot of the page, and its DOM on standard output
  local profile
  profile=$(mktemp -d -p "$WORK")
  local flags=(--headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update
    --disable-sync --no-first-run --disable-extensions --user-data-dir="$profile" --hide-scrollbars)
  timeout 40 chromium "${flags[@]}" --window-size=412,2400 --screenshot="$2" "$1" >/dev/null 2>&1
  timeout 40 chromium "${flags[@]}" --dump-dom "$1" 2>/dev/null
}

dom=$(browse "http://127.0.0.1:$port/" "$ARTEFACTS/board-page.png")
[ -s "$ARTEFACTS/board-page.png" ] || fail "no screenshot"
[[ $dom == *'<table>'* && $dom == *'<svg'* ]] || fail "the page has no table or chart"
[[ $dom == *'&lt;script&gt;x&lt;/script&gt;'* ]] || fail "the name with markup is not shown as text"
[[ $dom != *'<script>'* ]] || fail "the name with markup became a script"
[[ $dom == *'Zoë'* && $dom == *'Bob'* ]] || fail "a name is missing"
# The chart's bars are drawn in the board's gold (#c9a100) and the tables' rules in #e5dcb5.
colours=$(convert "$ARTEFACTS/board-page.png" -format %c histogram:info:- | tr 'A-F' 'a-f')
[[ $colours == *'#c9a100'* ]] || fail "the screenshot shows no chart"
[[ $colours == *'#e5dcb5'* ]] || fail "the screenshot shows no table"

player=$(browse "http://127.0.0.1:$port/player?name=%3Cscript%3Ex%3C%2Fscript%3E" "$ARTEFACTS/board-player.png")
[[ $player == *'<h1>&lt;script&gt;x&lt;/script&gt;</h1>'* && $player == *'.nsr'* ]] ||
  fail "the player's page does not show the player's game"
echo "PASS (screenshots in $ARTEFACTS)"
