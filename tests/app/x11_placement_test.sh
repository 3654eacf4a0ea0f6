#!/usr/bin/env bash
# Under a real X server with a window manager, the frame around the window arrives only after the
# window is shown. Starts and closes Corvel several times the way a user does (the window
# manager's close) and checks that the window comes back where and as large as it was left.
# Exit status 77 (skipped) when the X server, the window manager or the tools are missing.
set -u
exe=$1
for tool in Xvfb openbox wmctrl xdotool; do command -v "$tool" >/dev/null || exit 77; done
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$exe" "$work/corvel"
n=$((120 + RANDOM % 700))
export DISPLAY=:$n
Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do wmctrl -m >/dev/null 2>&1 && break; sleep 0.1; done

stored() { grep -A4 '^\[WINDOWS\]' "$work/tool_terminal.ini" | tr '\n' ' '; }
first=""
for cycle in 1 2 3 4; do
  QT_QPA_PLATFORM=xcb "$work/corvel" >/dev/null 2>&1 &
  p=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --name '^Corvel v' | head -n 1)
  [ -n "$wid" ] || { echo "cycle $cycle: no window"; exit 1; }
  sleep 1  # the window manager frames the window
  wmctrl -i -c "$wid"
  for _ in $(seq 200); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$p" 2>/dev/null; then echo "cycle $cycle: did not close"; kill "$p"; exit 1; fi
  now=$(stored)
  echo "cycle $cycle: $now"
  if [ -z "$first" ]; then first=$now; elif [ "$now" != "$first" ]; then
    echo "the stored place moved: $first -> $now"
    exit 1
  fi
done
