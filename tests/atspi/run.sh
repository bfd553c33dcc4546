#!/usr/bin/env bash
# Runs tst_atspi.py against the demo window as a screen reader meets it: on
# an X display, with a session bus and the accessibility bus.
#   run.sh DEMO_PROGRAM
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# -noreset: Xvfb would otherwise reset when its last client leaves, and
# lose the root window property that tells Qt where the accessibility bus is.
exec 3>"$work/display"
Xvfb -displayfd 3 -noreset -nolisten tcp -screen 0 1280x800x24 >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

dbus-daemon --session --nofork --nopidfile --print-address=4 4>"$work/bus" >"$work/dbus.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/bus" ] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$work/bus")"

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
pids+=($!)

export XDG_RUNTIME_DIR="$work"
export GSETTINGS_BACKEND=memory
unset QT_QPA_PLATFORM QT_LINUX_ACCESSIBILITY_ALWAYS_ON
/usr/bin/python3 "$here/tst_atspi.py" "$@"
