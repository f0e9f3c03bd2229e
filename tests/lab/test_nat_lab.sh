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
# Then the server is killed while a relayed pair plays: it is told the connection is lost.
# Every namespace is removed on any exit; every wait is bounded.
set -euo pipefail
PEER="${1:?lab_peer}"
SERVER="${2:?nanasplat-server}"
[ "$(id -u)" -eq 0 ] || { echo "SKIP: the lab needs root"; exit 77; }
for tool in ip nft; do command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }; done

P="nl$$"  # every namespace of this run starts so
WORK="$(mktemp -d /tmp/nanasplat-lab-XXXXXX)"
NAMESPACES=()
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  for ns in "${NAMESPACES[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null || true; done  # ours, in the lab
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; for f in "$WORK"/*.out "$WORK"/server.log; do [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }; done; exit 1; }

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

start_server() {
  ip netns exec "$P-srv" "$SERVER" --listen 203.0.113.10 --lobby-port 7479 --http-port 0 --state "$WORK" \
    </dev/null >/dev/null 2>>"$WORK/server.log" &
  SERVER_PID=$!
  PIDS+=("$SERVER_PID")
  for _ in $(seq 50); do grep -q serving "$WORK/server.log" 2>/dev/null && break; sleep 0.1; done
  grep -q serving "$WORK/server.log" || fail "the server did not start"
}

LOBBY=203.0.113.10:7479
# play CASE HOST_NS JOIN_NS EXPECTED (directly | "through the relay" | any)
play() {
  local name="$1" hostns="$2" joinns="$3" want="$4" code="$WORK/$1.code"
  ip netns exec "$P-$hostns" timeout 30 "$PEER" host "$LOBBY" "$code" </dev/null >"$WORK/$name-host.out" 2>&1 &
  local hostpid=$!
  PIDS+=("$hostpid")
  for _ in $(seq 50); do [ -s "$code" ] && break; sleep 0.1; done
  [ -s "$code" ] || fail "$name: the host got no code"
  local status=0
  in_ns "$joinns" timeout 30 "$PEER" join "$LOBBY" "$code" >"$WORK/$name-join.out" 2>&1 || status=$?
  wait "$hostpid" || true
  local got
  got="$(grep -o '^PLAYING .* after [0-9]* ms' "$WORK/$name-join.out" || true)"
  echo "case $name: joiner $got; host $(grep -o '^PLAYING [a-z ]*' "$WORK/$name-host.out" || echo '?')"
  [ "$status" = 0 ] || fail "$name: the joiner ended with $status"
  if [ "$want" != any ]; then
    grep -q "^PLAYING $want after" "$WORK/$name-join.out" || fail "$name: not $want"
    grep -q "^PLAYING $want after" "$WORK/$name-host.out" || fail "$name: the host does not say $want"
  fi
}

start_server
play 1-port-preserving a1 b directly
play 2-one-random a1 r "through the relay"
play 3-both-random r s "through the relay"
play 4-carrier c a1 any
play 5-same-router a1 a2 directly

# A spectator through the lab: a relayed pair (the joiner behind a NAT with random ports)
# plays 6 s, the host feeding its game; a spectator behind the carrier NAT gets it whole.
in_ns a1 timeout 30 "$PEER" host "$LOBBY" "$WORK/watch.code" 6 </dev/null >"$WORK/watch-host.out" 2>&1 &
WATCH_HOST=$!
PIDS+=("$WATCH_HOST")
for _ in $(seq 50); do [ -s "$WORK/watch.code" ] && break; sleep 0.1; done
in_ns r timeout 30 "$PEER" join "$LOBBY" "$WORK/watch.code" 6 </dev/null >"$WORK/watch-join.out" 2>&1 &
WATCH_JOIN=$!
PIDS+=("$WATCH_JOIN")
for _ in $(seq 100); do grep -q "^PLAYING" "$WORK/watch-join.out" 2>/dev/null && break; sleep 0.1; done
in_ns c timeout 30 "$PEER" watch "$LOBBY" "$WORK/watch.code" </dev/null >"$WORK/watch-spectator.out" 2>&1 || true
wait "$WATCH_JOIN" || fail "the watched pair's joiner: $(cat "$WORK/watch-join.out")"
wait "$WATCH_HOST" || fail "the watched pair's host: $(cat "$WORK/watch-host.out")"
FED="$(sed -n 's/^FED //p' "$WORK/watch-host.out")"
WATCHED="$(sed -n 's/^WATCHED \(.*\) after [0-9]* ms$/\1/p' "$WORK/watch-spectator.out")"
echo "spectator behind the carrier NAT: fed $FED; watched $WATCHED ($(grep -o '^PLAYING [a-z ]*' "$WORK/watch-join.out"))"
[ -n "$FED" ] && [ "$FED" = "$WATCHED" ] || fail "the spectator's stream: $(cat "$WORK/watch-spectator.out")"

# 6. No lobby: the message within 5 s. A wrong code: the message at once.
echo 2222-2222 >"$WORK/none.code"
START=$(date +%s%3N)
in_ns b timeout 10 "$PEER" join 203.0.113.99:7479 "$WORK/none.code" >"$WORK/6-nolobby.out" 2>&1 || true
MS=$(( $(date +%s%3N) - START ))
grep -qx "FAILED The lobby does not answer." "$WORK/6-nolobby.out" || fail "no lobby: $(cat "$WORK/6-nolobby.out")"
[ "$MS" -le 5000 ] || fail "no lobby: told after $MS ms"
echo "case 6: no lobby told after $MS ms"
START=$(date +%s%3N)
in_ns b timeout 10 "$PEER" join "$LOBBY" "$WORK/none.code" >"$WORK/6-wrong.out" 2>&1 || true
MS=$(( $(date +%s%3N) - START ))
grep -qx "FAILED No game has that code (or it expired)." "$WORK/6-wrong.out" || fail "wrong code: $(cat "$WORK/6-wrong.out")"
[ "$MS" -le 1000 ] || fail "wrong code: told after $MS ms"
echo "case 6: wrong code told after $MS ms"

# The server killed while a relayed pair plays: both are told the connection is lost.
in_ns r timeout 30 "$PEER" host "$LOBBY" "$WORK/kill.code" 15 </dev/null >"$WORK/kill-host.out" 2>&1 &
KILL_HOST=$!
PIDS+=("$KILL_HOST")
for _ in $(seq 50); do [ -s "$WORK/kill.code" ] && break; sleep 0.1; done
in_ns s timeout 30 "$PEER" join "$LOBBY" "$WORK/kill.code" 15 </dev/null >"$WORK/kill-join.out" 2>&1 &
KILL_JOIN=$!
PIDS+=("$KILL_JOIN")
for _ in $(seq 100); do grep -q "^PLAYING" "$WORK/kill-join.out" 2>/dev/null && break; sleep 0.1; done
grep -q "^PLAYING through the relay" "$WORK/kill-join.out" || fail "the pair to cut off does not play through the relay"
sleep 1
kill -9 "$SERVER_PID"
wait "$KILL_JOIN" || true
wait "$KILL_HOST" || true
for side in host join; do
  grep -qx "FAILED The connection to the other player was lost." "$WORK/kill-$side.out" ||
    fail "the relayed $side after the server died: $(cat "$WORK/kill-$side.out")"
done
echo "the server killed: the relayed pair was told the connection was lost"
echo ok
