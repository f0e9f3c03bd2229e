#!/usr/bin/env bash
# The suite's virtual display accepts every program that connects, however short-lived
# the programs before it: sixty window-test programs one after another, each started
# as the previous one leaves (an X server that resets when its last client leaves
# turns away a client arriving meanwhile, about one in twenty).
source "$(dirname "$0")/lib.sh"
start_xvfb
for run in $(seq 1 60); do
  "$NANASPLAT_BUILD/tests/window_tests" --gtest_filter='WaitingForAKey.*' >"$WORK/run.txt" 2>&1 ||
    fail "run $run: $(cat "$WORK/run.txt")"
done
echo ok
