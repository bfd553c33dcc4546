#!/usr/bin/env bash
# Runs a program with what a desktop gives it: an X display (Xvfb) and a
# sound server (PulseAudio, with a sink that plays nothing), both its own.
#   desktop.sh PROGRAM [ARGUMENTS...]
set -euo pipefail
work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

export XDG_RUNTIME_DIR="$work" HOME="$work"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-level=error \
  -L "module-null-sink sink_name=desktop" -L "module-native-protocol-unix auth-anonymous=1 socket=$work/native" &
pids+=($!)
for _ in $(seq 50); do [ -S "$work/native" ] && break; sleep 0.1; done
export PULSE_SERVER="unix:$work/native"
unset QT_QPA_PLATFORM BRIMWOLD_AUDIO_SINK
"$@"
