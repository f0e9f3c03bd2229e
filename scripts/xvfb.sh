# SPDX-License-Identifier: GPL-3.0-or-later
# start_xvfb: starts a private Xvfb 1024x768x16 on a free display number, exports
# DISPLAY and sets XVFB_PID. stop_xvfb ends it. Sourced by scripts/test and the
# end-to-end tests.
#
# -noreset: an X server resets itself whenever its last client disconnects, and a
# client connecting during the reset is turned away (the library then fails to start,
# with no message). The suite's test programs connect one after another, so without
# it about one start in twenty failed under load.

start_xvfb() {
  local numfile
  numfile="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1024x768x16 -nolisten tcp -noreset 3>"$numfile" >/dev/null 2>&1 &
  XVFB_PID=$!
  local tries=0
  while [ ! -s "$numfile" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 200 ] || ! kill -0 "$XVFB_PID" 2>/dev/null; then
      echo "Xvfb did not start" >&2; rm -f "$numfile"; return 1
    fi
    sleep 0.05
  done
  export DISPLAY=":$(head -n1 "$numfile" | tr -d '[:space:]')"
  rm -f "$numfile"
}

stop_xvfb() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}
