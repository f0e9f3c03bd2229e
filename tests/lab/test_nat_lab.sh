#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The NAT lab: an internet, home routers and a carrier NAT made of network namespaces on
# this machine, with no link to the host's own network and documentation addresses only
# (203.0.113.0/24 the internet, 192.0.2.0/24 and 198.51.100.0/24 homes, 100.64.0.0/24 the
# carrier's). Routers masquerade with nftables: port-preserving ("masquerade") or a new
# port for every destination ("masquerade random,fully-random"). nanasplat-server runs
# on 203.0.113.10; lab_peer plays each side with the game's own network code.
#   1. both behind port-preserving NATs: direct      4. a carrier NAT before a home NAT
#   2. one behind a NAT with random ports: relay      5. both behind one router: direct
#   3. both behind NATs with random ports: relay      6. no lobby / a wrong code: the messages
# Cases 1 to 3 are then played by two game processes, each in its namespace on its own
# virtual display (X reaches them through /tmp/.X11-unix): a few seconds of the first
# level, ended by the joiner's Escape, with replays that check alike.
# Then the server is killed while a relayed pair and a direct pair play: the relayed
# pair is told the connection is lost, the direct pair plays on.
# Every namespace is removed on any exit; every wait is bounded.
set -euo pipefail
PEER="${1:?lab_peer}"
SERVER="${2:?nanasplat-server}"
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the lab needs root"; exit 77; }
for tool in ip nft; do command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }; done
# The game built beside the server, and the two displays, helpers and scratch directory
# (WORK) of the network end-to-end tests.
: "${NANASPLAT_BUILD:=$(dirname "$SERVER")}" "${NANASPLAT_SOURCE:=$(cd "$(dirname "$0")/../.." && pwd)}"
source "$NANASPLAT_SOURCE/tests/e2e/pair_lib.sh"

P="nl$$"  # every namespace of this run starts so
NAMESPACES=()
lab_cleanup() {
  for ns in "${NAMESPACES[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done  # ours, in the lab
    ip netns del "$ns" 2>/dev/null || true
  done
  cleanup
}
trap lab_cleanup EXIT

ns_add() {  # NAME
  ip netns add "$P-$1"
  NAMESPACES+=("$P-$1")
  ip -n "$P-$1" link set lo up
}
in_ns() { local ns="$1"; shift; ip netns exec "$P-$ns" "$@"; }

# The internet: a router ("inet") with a small network to each site, so that a datagram
# between two sites crosses a hop (a punch's low time-to-live ends there); every public
# address in 203.0.113.0/24, site K on 203.0.113.8K/29 (the internet .8K+1, the site .8K+2).
ns_add inet
in_ns inet sysctl -qw net.ipv4.ip_forward=1
on_internet() {  # NS K: NS's interface "wan" on the internet, at 203.0.113.(8K+2)
  ip -n "$P-inet" link add "i-$1" type veth peer name wan netns "$P-$1"
  ip -n "$P-inet" addr add "203.0.113.$((8 * $2 + 1))/29" dev "i-$1"
  ip -n "$P-inet" link set "i-$1" up
  ip -n "$P-$1" addr add "203.0.113.$((8 * $2 + 2))/29" dev wan
  ip -n "$P-$1" link set wan up
  ip -n "$P-$1" route add default via "203.0.113.$((8 * $2 + 1))"
}
nat() {  # ROUTER MODE (keep | random)
  local how="masquerade"
  [ "$2" = random ] && how="masquerade random,fully-random"
  in_ns "$1" sysctl -qw net.ipv4.ip_forward=1
  in_ns "$1" nft -f - <<RULES
table ip nat {
  chain post {
    type nat hook postrouting priority srcnat; policy accept;
    oifname "wan" $how
  }
}
RULES
}
home() {  # ROUTER LAN_PREFIX (a /26 or /24 ending in .N: router .N+1) HOST_NAMES...
  local router="$1" base="$2"
  shift 2
  ip -n "$P-$router" link add lan type bridge
  ip -n "$P-$router" addr add "$base.1/24" dev lan
  ip -n "$P-$router" link set lan up
  local n=2
  for host in "$@"; do
    ns_add "$host"
    ip -n "$P-$router" link add "h-$host" type veth peer name eth0 netns "$P-$host"
    ip -n "$P-$router" link set "h-$host" master lan up
    ip -n "$P-$host" addr add "$base.$n/24" dev eth0
    ip -n "$P-$host" link set eth0 up
    ip -n "$P-$host" route add default via "$base.1"
    n=$((n + 1))
  done
}

ns_add srv;  on_internet srv 1  # 203.0.113.10
ns_add ra;   on_internet ra 2;  nat ra keep;   home ra 192.0.2 a1 a2
ns_add rb;   on_internet rb 3;  nat rb keep;   home rb 198.51.100 b
ns_add rr;   on_internet rr 4;  nat rr random
ns_add rs;   on_internet rs 5;  nat rs random
# Random-port homes reuse prefixes of their own namespaces: each home is its own network.
home rr 192.0.2 r
home rs 198.51.100 s
# A carrier NAT (100.64.0.0/24 inside) before a home router (port-preserving both).
ns_add cgn;  on_internet cgn 6; nat cgn keep
ns_add rc
ip -n "$P-cgn" link add cust type veth peer name wan netns "$P-rc"
ip -n "$P-cgn" addr add 100.64.0.1/24 dev cust
ip -n "$P-cgn" link set cust up
ip -n "$P-rc" addr add 100.64.0.2/24 dev wan
ip -n "$P-rc" link set wan up
ip -n "$P-rc" route add default via 100.64.0.1
nat rc keep
home rc 198.51.100 c
# Nothing here reaches the host: every address and route stays in the lab's ranges.
for ns in "${NAMESPACES[@]}"; do
  ip -n "$ns" -4 addr | grep -o 'inet [0-9.]*' | grep -vE 'inet (127\.0\.0\.1|192\.0\.2\.|198\.51\.100\.|203\.0\.113\.|100\.64\.)' &&
    fail "$ns has an address outside the lab's ranges"
  ip -n "$ns" route | grep -E '^default' | grep -vE 'via (192\.0\.2\.1|198\.51\.100\.1|100\.64\.0\.1|203\.0\.113\.[0-9]+) ' && fail "$ns routes elsewhere"
done

start_lab_server() {  # sets SERVER_PID (the server's own, to kill)
  ip netns exec "$P-srv" "$SERVER" --listen 203.0.113.10 --lobby-port 7479 --http-port 0 --state "$WORK" \
    </dev/null >/dev/null 2>>"$WORK/server.log" &
  SERVER_PID=$!
  PIDS+=("$SERVER_PID")
  wait_until 5 "the server did not start" grep -qs serving "$WORK/server.log"
}

LOBBY=203.0.113.10:7479
# start_peers NAME HOST_NS JOIN_NS [PLAY_SECONDS]: a lab_peer host, and once it has its
# code a lab_peer joiner by it, writing $WORK/NAME-host.out and NAME-join.out; sets
# HOST_PID and JOIN_PID.
start_peers() {
  local name="$1" code="$WORK/$1.code"
  # shellcheck disable=SC2086  # PLAY_SECONDS: no word when not given
  in_ns "$2" timeout 30 "$PEER" host "$LOBBY" "$code" ${4:-} </dev/null >"$WORK/$name-host.out" 2>&1 &
  HOST_PID=$!
  PIDS+=("$HOST_PID")
  wait_until 5 "$name: the host got no code" test -s "$code"
  # shellcheck disable=SC2086
  in_ns "$3" timeout 30 "$PEER" join "$LOBBY" "$code" ${4:-} </dev/null >"$WORK/$name-join.out" 2>&1 &
  JOIN_PID=$!
  PIDS+=("$JOIN_PID")
}
how_played() { sed -n 's/^PLAYING \(.*\) after [0-9]* ms$/\1/p' "$WORK/$1.out"; }
# play CASE HOST_NS JOIN_NS EXPECTED (directly | "through the relay" | any)
play() {
  local name="$1" want="$4"
  start_peers "$name" "$2" "$3"
  local status=0
  wait "$JOIN_PID" || status=$?
  wait "$HOST_PID" || true
  echo "case $name: joiner $(grep -o '^PLAYING .* after [0-9]* ms' "$WORK/$name-join.out" || true);" \
    "host $(how_played "$name-host")"
  [ "$status" = 0 ] || fail "$name: the joiner ended with $status"
  if [ "$want" != any ]; then
    [ "$(how_played "$name-join")" = "$want" ] || fail "$name: not $want"
    [ "$(how_played "$name-host")" = "$want" ] || fail "$name: the host does not say $want"
  fi
}

start_lab_server
play 1-port-preserving a1 b directly
play 2-one-random a1 r "through the relay"
play 3-both-random r s "through the relay"
play 4-carrier c a1 any
play 5-same-router a1 a2 directly

# A spectator through the lab: a relayed pair (the joiner behind a NAT with random ports)
# plays 6 s, the host feeding its game; a spectator behind the carrier NAT gets it whole.
start_peers watch a1 r 6
wait_until 10 "the watched pair does not play" grep -q "^PLAYING" "$WORK/watch-join.out"
in_ns c timeout 30 "$PEER" watch "$LOBBY" "$WORK/watch.code" </dev/null >"$WORK/watch-spectator.out" 2>&1 || true
wait "$JOIN_PID" || fail "the watched pair's joiner: $(cat "$WORK/watch-join.out")"
wait "$HOST_PID" || fail "the watched pair's host: $(cat "$WORK/watch-host.out")"
FED="$(sed -n 's/^FED //p' "$WORK/watch-host.out")"
WATCHED="$(sed -n 's/^WATCHED \(.*\) after [0-9]* ms$/\1/p' "$WORK/watch-spectator.out")"
echo "spectator behind the carrier NAT: fed $FED; watched $WATCHED ($(how_played watch-join))"
[ -n "$FED" ] && [ "$FED" = "$WATCHED" ] || fail "the spectator's stream: $(cat "$WORK/watch-spectator.out")"

# 6. No lobby: the message within 5 s. A wrong code: the message at once.
echo 2222-2222 >"$WORK/none.code"
START=$(now_ms)
in_ns b timeout 10 "$PEER" join 203.0.113.99:7479 "$WORK/none.code" >"$WORK/6-nolobby.out" 2>&1 || true
MS=$(( $(now_ms) - START ))
grep -qx "FAILED The lobby does not answer." "$WORK/6-nolobby.out" || fail "no lobby: $(cat "$WORK/6-nolobby.out")"
[ "$MS" -le 5000 ] || fail "no lobby: told after $MS ms"
echo "case 6: no lobby told after $MS ms"
START=$(now_ms)
in_ns b timeout 10 "$PEER" join "$LOBBY" "$WORK/none.code" >"$WORK/6-wrong.out" 2>&1 || true
MS=$(( $(now_ms) - START ))
grep -qx "FAILED No game has that code (or it expired)." "$WORK/6-wrong.out" || fail "wrong code: $(cat "$WORK/6-wrong.out")"
[ "$MS" -le 1000 ] || fail "wrong code: told after $MS ms"
echo "case 6: wrong code told after $MS ms"

# Cases 1 to 3 with two game processes: each side in its namespace, on its own display.
# play_game CASE HOST_NS JOIN_NS EXPECTED (directly | "through the relay")
GAME_SECONDS=2  # of rolling about in each game
play_game() {
  local name="$1" want="$4"
  start_lobby_pair "$name-host" "$name-join" "$LOBBY" "ip netns exec $P-$2" "ip netns exec $P-$3"
  log_has_line "$name-join" "Network game: playing $want" || fail "$name: the joiner does not play $want"
  log_has_line "$name-host" "Network game: playing $want" || fail "$name: the host does not play $want"
  wait_for_screen "0 1" 10 "Press any key to begin." 512 424
  press 0 space
  press 1 space
  on 0 keydown Right; on 1 keydown Left; sleep "$GAME_SECONDS"
  on 0 keyup Right; on 1 keyup Left
  quit_and_check "$name-host" "$name-join"
  echo "game $name: both play $want; from --join CODE to playing: $JOIN_MS ms (start-up included)"
}
play_game 1-port-preserving a1 b directly
play_game 2-one-random a1 r "through the relay"
play_game 3-both-random r s "through the relay"

# The server killed while a relayed pair and a direct pair play: the relayed pair is told
# the connection is lost; the direct pair plays on to its end, about 5 s after the kill
# (a silent connection is noticed within about 3 s).
start_peers kill-direct a1 b 8
DIRECT_HOST=$HOST_PID DIRECT_JOIN=$JOIN_PID
start_peers kill r s 15
for out in kill-join kill-direct-join; do
  wait_until 10 "$out does not play" grep -q "^PLAYING" "$WORK/$out.out"
done
[ "$(how_played kill-join)" = "through the relay" ] || fail "the pair to cut off does not play through the relay"
[ "$(how_played kill-direct-join)" = directly ] || fail "the pair to play on does not play directly"
sleep 1
{ kill -9 "$SERVER_PID"; wait "$SERVER_PID"; } 2>/dev/null || true
wait "$JOIN_PID" || true
wait "$HOST_PID" || true
for side in host join; do
  grep -qx "FAILED The connection to the other player was lost." "$WORK/kill-$side.out" ||
    fail "the relayed $side after the server died: $(cat "$WORK/kill-$side.out")"
done
wait "$DIRECT_JOIN" || fail "the direct joiner after the server died: $(cat "$WORK/kill-direct-join.out")"
wait "$DIRECT_HOST" || fail "the direct host after the server died: $(cat "$WORK/kill-direct-host.out")"
echo "the server killed: the relayed pair was told the connection was lost; the direct pair played on"
echo ok
