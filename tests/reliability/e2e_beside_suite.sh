#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The end-to-end tests run ROUNDS times, one round after another, while a second copy
# of the whole suite runs over and over beside them (in SECOND_BUILD, a build of its
# own) as the load. Prints each round's result and the totals; status 1 if any round
# had a failure. e2e.package is left out of the rounds: it builds the package, and the
# suite beside them builds it in every pass.
# JOBS end-to-end tests run at once in a round (2 unless given).
#   e2e_beside_suite.sh ROUNDS BUILD SECOND_BUILD [JOBS]
set -euo pipefail
ROUNDS="${1:?rounds}" BUILD="${2:?build directory}" SECOND="${3:?second build directory}" JOBS="${4:-2}"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
source "$ROOT/scripts/xvfb.sh"
LOGS="$(mktemp -d /tmp/e2e-rounds-XXXXXX)"
LOAD=""
cleanup() { [ -z "$LOAD" ] || kill -- "-$LOAD" 2>/dev/null || true; stop_xvfb; }
trap cleanup EXIT
trap "exit 143" INT TERM  # the EXIT trap then stops the load too
start_xvfb
# The load: the whole suite again and again, in a process group of its own.
set -m
(pass=0; while [ $pass -lt 1000 ]; do pass=$((pass + 1))
   (cd "$SECOND" && ctest -j 2 --timeout 600 >"$LOGS/load-$pass.txt" 2>&1) || true; done) &
LOAD=$!
set +m
failed=0
for round in $(seq 1 "$ROUNDS"); do
  start=$SECONDS
  if (cd "$BUILD" && ctest -j "$JOBS" --timeout 600 --output-on-failure -R '^e2e\.' -E '^e2e\.package$' >"$LOGS/round-$round.txt" 2>&1); then
    echo "round $round: $(grep -o '[0-9]* tests failed out of [0-9]*' "$LOGS/round-$round.txt"), $((SECONDS - start)) s, load $(cut -d' ' -f1 /proc/loadavg)"
  else
    failed=$((failed + 1))
    echo "round $round: FAILED: $(grep -E '\*\*\*|Failed' "$LOGS/round-$round.txt" | tr '\n' ' ')"
  fi
done
passes=$(ls "$LOGS"/load-*.txt | wc -l)
echo "$ROUNDS rounds, $failed with a failure; the suite beside them began $passes passes (logs in $LOGS)"
[ $failed = 0 ]
