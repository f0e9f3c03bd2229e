#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The suite's virtual display accepts every program that connects, however programs
# come and go around it: sixty window-test programs one after another, each with a
# short-lived client connecting alongside, as test programs running in parallel do.
# (An X server that resets when its last client leaves turns away a client arriving
# meanwhile: 8 and 60 of 60 starts in two tries without -noreset.)
source "$(dirname "$0")/lib.sh"
start_xvfb
for run in $(seq 1 60); do
  "$NANASPLAT_BUILD/tests/send_close" "no such window" >/dev/null 2>&1 &
  other=$!
  "$NANASPLAT_BUILD/tests/window_tests" --gtest_filter='WaitingForAKey.*' >"$WORK/run.txt" 2>&1 ||
    fail "run $run: $(cat "$WORK/run.txt")"
  wait "$other" || true
done
echo ok
