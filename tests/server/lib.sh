# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the board's tests: a nanasplat-server on 127.0.0.1 with a state directory
# of its own, and its API through curl. Sourced; the caller sets WORK and traps EXIT
# to stop_servers.

SERVER_PIDS=()

# A TCP port nobody listens on now.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# start_server PORT STATE LOG [ARGUMENT...]: starts it and waits (at most 10 s) until it answers.
start_server() {
  local port=$1 state=$2 log=$3
  shift 3
  mkdir -p "$state"
  "$SERVER" --listen 127.0.0.1 --http-port "$port" --lobby-port 0 --state "$state" "$@" 2>>"$log" &
  SERVER_PIDS+=($!)
  LAST_SERVER_PID=$!
  for _ in $(seq 100); do
    curl -sf -o /dev/null "http://127.0.0.1:$port/api/scores" && return 0
    kill -0 "$LAST_SERVER_PID" 2>/dev/null || { echo "the server ended at start:"; cat "$log"; return 1; }
    sleep 0.1
  done
  echo "the server did not answer within 10 s"
  return 1
}

stop_servers() {
  local pid
  for pid in "${SERVER_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${SERVER_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  SERVER_PIDS=()
}

fail() {
  echo "FAIL: $*"
  exit 1
}

# submit PORT FILE NAME [CURL-ARGUMENT...]: prints "STATUS BODY".
submit() {
  local port=$1 file=$2 name=$3
  shift 3
  local answer status
  answer=$(mktemp -p "$WORK")
  status=$(curl -s -o "$answer" -w '%{http_code}' -X POST --data-binary @"$file" \
    -H 'Content-Type: application/octet-stream' "$@" "http://127.0.0.1:$port/api/replays?name=$name")
  echo "$status $(cat "$answer")"
  rm -f "$answer"
}

# verdict PORT ID: waits (at most 30 s) until the replay is no longer pending; prints its state.
verdict() {
  local port=$1 id=$2 state
  for _ in $(seq 300); do
    state=$(curl -s "http://127.0.0.1:$port/api/replays/$id")
    case "$state" in *'"pending"'*) sleep 0.1 ;; *) echo "$state"; return 0 ;; esac
  done
  echo "still pending after 30 s: $state"
}

# Everything the board shows, as one text.
board_snapshot() {
  local port=$1 mode period
  for mode in 1p 2p net; do
    for period in all week; do curl -s "http://127.0.0.1:$port/api/scores?mode=$mode&period=$period&limit=100"; done
  done
}

# start_postgres DIR: Debian's PostgreSQL in DIR as an unprivileged user (nobody when
# run as root), on a Unix socket in DIR only (no TCP); sets DATABASE_URL and PSQL.
# stop_postgres stops it.
PG_BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
start_postgres() {
  PG_DIR=$1
  mkdir -p "$PG_DIR"
  PG_AS=()
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$PG_DIR"
    chmod 755 "$PG_DIR"
    PG_AS=(runuser -u nobody --)
  fi
  "${PG_AS[@]}" "$PG_BIN/initdb" -D "$PG_DIR/data" -A trust -U board --no-sync >"$PG_DIR/initdb.log" 2>&1 ||
    { cat "$PG_DIR/initdb.log"; return 1; }
  "${PG_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
    -o "-k $PG_DIR -c listen_addresses= -c fsync=on -c synchronous_commit=on" start >/dev/null ||
    { cat "$PG_DIR/server.log"; return 1; }
  PG_STARTED=1
  "${PG_AS[@]}" "$PG_BIN/createdb" -h "$PG_DIR" -U board board
  DATABASE_URL="postgresql:///board?host=$PG_DIR&user=board"
  PSQL=("${PG_AS[@]}" "$PG_BIN/psql" -h "$PG_DIR" -U board -d board -qtA -v ON_ERROR_STOP=1)
}
stop_postgres() {
  [ -n "${PG_STARTED:-}" ] || return 0
  "${PG_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
  PG_STARTED=
}
