#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The board keeps every submission it acknowledged and verifies each exactly once, even
# when its server is killed (SIGKILL) at ten random moments under the load of 20
# clients sending 1,000 replays (real games, each sent many times, and quit games).
# With sqlite: one server on one SQLite file. With postgresql: two servers on one
# PostgreSQL database, one of them killed and restarted each time.
#
#   test_board_durability.sh SERVER SCRIPT_GAMES sqlite|postgresql [SUBMISSIONS]
set -euo pipefail
SERVER=$1 GAMES=$2 BACKEND=$3 SUBMISSIONS=${4:-1000}
WORK=$(mktemp -d)
chmod 755 "$WORK"
source "$(dirname "$0")/lib.sh"
trap 'stop_servers; stop_postgres; rm -rf "$WORK"' EXIT

"$GAMES" --no-window --name real "$WORK" 5 20 --rock --frames 3400 3400 > "$WORK/real.txt"
"$GAMES" --no-window --name quit "$WORK" 6 30 --rock --frames 300 300 > "$WORK/quit.txt"
real=$(grep -c 'time up' "$WORK/real.txt")
[ "$real" -ge 10 ] || fail "only $real of the scripted games ended at time up"
files=("$WORK"/real-*.nsr "$WORK"/quit-*.nsr)

ports=()
extra=(--submissions-per-minute 100000)
if [ "$BACKEND" = postgresql ]; then
  start_postgres "$WORK/pg"
  extra+=(--database "$DATABASE_URL")
  servers=2
else
  servers=1
fi
for i in $(seq "$servers"); do
  ports+=("$(free_port)")
  start_server "${ports[-1]}" "$WORK/state" "$WORK/server-$i.log" "${extra[@]}"
  pids[$i]=$LAST_SERVER_PID
done

python3 "$(dirname "$0")/load.py" "$(IFS=,; echo "${ports[*]}")" 20 "$SUBMISSIONS" "${files[@]}" > "$WORK/load.json" &
load=$!
# Ten kills while the clients send and the verifiers work through what they sent.
for kill in $(seq 10); do
  sleep "0.$((RANDOM % 3 + 1))"
  victim=$(( (kill % servers) + 1 ))
  kill -KILL "${pids[$victim]}"
  wait "${pids[$victim]}" 2>/dev/null || true
  start_server "${ports[$((victim - 1))]}" "$WORK/state" "$WORK/server-$victim.log" "${extra[@]}"
  pids[$victim]=$LAST_SERVER_PID
done
wait "$load"

# Every acknowledged submission is there; wait (at most 240 s: one verifier on a loaded
# machine works through 1,000 of them slowly) until none is pending.
python3 - "$WORK/load.json" "${ports[0]}" <<'PY' || exit 1
import json, sys, time, urllib.request
acked = json.load(open(sys.argv[1]))["acked"]
deadline = time.monotonic() + 240
pending = list(acked)
while pending and time.monotonic() < deadline:
    still = []
    for i in pending:
        state = json.loads(urllib.request.urlopen(f"http://127.0.0.1:{sys.argv[2]}/api/replays/{i}", timeout=10).read())
        if state["status"] == "pending":
            still.append(i)
    pending = still
    if pending:
        time.sleep(0.5)
if pending:
    sys.exit(f"FAIL: {len(pending)} acknowledged submissions still pending")
PY
stop_servers

# What the database holds: one row per acknowledged submission with the bytes sent, each
# finished exactly once, one verified per real game.
if [ "$BACKEND" = postgresql ]; then
  "${PSQL[@]}" -c "COPY (SELECT id, status, verifications, encode(sha256(replay), 'hex'), reason FROM submissions) TO STDOUT" > "$WORK/rows.tsv"
else
  python3 -c '
import hashlib, sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for row in db.execute("SELECT id, status, verifications, replay, reason FROM submissions"):
    print("\t".join([str(row[0]), row[1], str(row[2]), hashlib.sha256(row[3]).hexdigest(), row[4]]))' \
    "$WORK/state/board.sqlite" > "$WORK/rows.tsv"
fi
python3 - "$WORK/load.json" "$WORK/rows.tsv" "$real" "$SUBMISSIONS" "${files[@]}" <<'PY'
import hashlib, json, sys
load = json.load(open(sys.argv[1]))
rows = {}
for line in open(sys.argv[2]):
    id, status, verifications, digest, reason = line.rstrip("\n").split("\t", 4)
    rows[int(id)] = (status, int(verifications), digest, reason)
real = int(sys.argv[3])
files = [hashlib.sha256(open(f, "rb").read()).hexdigest() for f in sys.argv[5:]]
lost = [i for i in load["acked"] if int(i) not in rows]
wrong = [i for i, f in load["acked"].items() if int(i) in rows and rows[int(i)][2] != files[f]]
twice = [i for i, r in rows.items() if r[1] > 1]
unfinished = [i for i, r in rows.items() if r[0] == "pending" or r[1] != 1]
verified = [i for i, r in rows.items() if r[0] == "verified"]
print(f"{len(load['acked'])} acknowledged, {len(rows)} stored, {len(verified)} verified; "
      f"acknowledgement p50 {load['p50_ms']:.1f} ms, p99 {load['p99_ms']:.1f} ms")
if lost: sys.exit(f"FAIL: acknowledged but lost: {lost[:10]}")
if wrong: sys.exit(f"FAIL: stored other bytes than sent: {wrong[:10]}")
if twice: sys.exit(f"FAIL: verified more than once: {twice[:10]}")
if unfinished: sys.exit(f"FAIL: not finished exactly once: {unfinished[:10]}")
if len(verified) != real: sys.exit(f"FAIL: {len(verified)} verified, expected one per real game ({real})")
if len(load["acked"]) != int(sys.argv[4]):
    sys.exit(f"FAIL: {len(load['acked'])} of {sys.argv[4]} acknowledged ({load['refused']} refused)")
PY
echo "PASS (10 kills, $BACKEND)"
