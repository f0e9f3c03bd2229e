#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The world score board's figures for docs/performance.md, from a build directory:
# re-runs per second (golden and scripted replays, and a ten-minute game played by
# tests/replay/steered_game, kept as tests/replay/long/ten_minutes.nsr), the processor
# time a check takes in the child against its limit, the top-100 queries with a million
# scores in SQLite and in PostgreSQL, acknowledgement latency under 20 clients, and
# verification throughput with one and with two servers on one PostgreSQL.
#   bench/board_figures.sh BUILD_DIR [reruns] [queries] [acks] [throughput]   (default: all four)
set -euo pipefail
BUILD=$(cd "$1" && pwd)
shift
SECTIONS=" ${*:-reruns queries acks throughput} "
wanted() { [[ $SECTIONS == *" $1 "* ]]; }
latency() {  # the load's acknowledgement latency, as one line
  python3 -c 'import json, sys; r = json.load(sys.stdin); print("%s p50 %.1f ms, p99 %.1f ms" % (sys.argv[1], r["p50_ms"], r["p99_ms"]))' "$1"
}
SOURCE=$(cd "$(dirname "$0")/.." && pwd)
SERVER=$BUILD/nanasplat-server
GAMES=$BUILD/tests/script_games
WORK=$(mktemp -d)
chmod 755 "$WORK"
source "$SOURCE/tests/server/lib.sh"
trap 'stop_servers; stop_postgres; rm -rf "$WORK"' EXIT
mkdir -p "$WORK/games" "$WORK/load" "$WORK/many"

if wanted reruns; then
  echo "== Re-runs"
  "$GAMES" --no-window --name scripted "$WORK/games" 7 4 --rock --frames 4000 7000 >/dev/null
  "$BUILD/bench/board_bench" verify "$SERVER-check" "$SOURCE"/tests/replay/golden/*.nsr "$WORK"/games/*.nsr \
    "$SOURCE"/tests/replay/long/*.nsr
fi
start_postgres "$WORK/pg"
if wanted queries; then
  echo "== Top 100 with 1,000,000 scores"
  "$BUILD/bench/board_bench" query "" "$WORK/sqlite" 1000000
  "$BUILD/bench/board_bench" query "$DATABASE_URL" "$WORK/unused" 1000000
  "${PSQL[@]}" -c "DROP TABLE submissions; DROP TABLE board_schema"
fi
if wanted acks; then
  echo "== Acknowledgement latency, 20 clients, 1,000 submissions"
  "$GAMES" --no-window --name load "$WORK/load" 5 20 --rock --frames 3400 3400 >/dev/null
  port=$(free_port)
  start_server "$port" "$WORK/ack-sqlite" "$WORK/ack-sqlite.log" --submissions-per-minute 100000
  python3 "$SOURCE/tests/server/load.py" "$port" 20 1000 "$WORK"/load/*.nsr | latency "SQLite:    "
  stop_servers
  start_server "$port" "$WORK/ack-pg" "$WORK/ack-pg.log" --submissions-per-minute 100000 --database "$DATABASE_URL"
  python3 "$SOURCE/tests/server/load.py" "$port" 20 1000 "$WORK"/load/*.nsr | latency "PostgreSQL:"
  stop_servers
fi
wanted throughput || exit 0
echo "== Verification throughput on one PostgreSQL"
"$GAMES" --no-window --name many "$WORK/many" 21 60 --rock --frames 3400 3400 >/dev/null
for servers in 1 2; do
  "${PSQL[@]}" -c "DROP TABLE IF EXISTS submissions; DROP TABLE IF EXISTS board_schema"
  ports=()
  for i in $(seq "$servers"); do
    ports+=("$(free_port)")
    start_server "${ports[-1]}" "$WORK/tp" "$WORK/tp-$servers-$i.log" --submissions-per-minute 100000 --database "$DATABASE_URL"
  done
  began=$(date +%s.%N)
  python3 "$SOURCE/tests/server/load.py" "$(IFS=,; echo "${ports[*]}")" 20 120 "$WORK"/many/*.nsr >/dev/null
  until [ "$("${PSQL[@]}" -c "SELECT COUNT(*) FROM submissions WHERE status = 'pending'")" = 0 ]; do sleep 0.05; done
  ended=$(date +%s.%N)
  done=$("${PSQL[@]}" -c "SELECT COUNT(*) FROM submissions")
  python3 -c "import sys; print(f'{sys.argv[1]} server(s): {sys.argv[2]} replays checked in {float(sys.argv[4]) - float(sys.argv[3]):.1f} s: {int(sys.argv[2]) / (float(sys.argv[4]) - float(sys.argv[3])):.1f} per second')" \
    "$servers" "$done" "$began" "$ended"
  stop_servers
done
uptime
