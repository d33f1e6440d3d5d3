#!/usr/bin/env bash
# quillon on a real (virtual) X display: it starts in an empty working
# directory, writes the default settings and shows its main window.
set -euo pipefail
quillon=$1

work=$(mktemp -d)
display=""
xvfb=""
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A free display number.
for n in $(seq 90 120); do
    if [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
# -noreset: without it the server resets when the readiness probe disconnects,
# and a client connecting during the reset is refused.
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 50); do xwininfo -display "$display" -root >/dev/null 2>&1 && break; sleep 0.1; done

cd "$work"
DISPLAY=$display QT_QPA_PLATFORM=xcb "$quillon" >"$work/quillon.log" 2>&1 &
app=$!

caption="Welcome to Quillon [$work/Symbols.sym]"
for _ in $(seq 1 100); do
    if xwininfo -display "$display" -root -tree 2>/dev/null | grep -qF "\"$caption\""; then
        [ -f Quillon.--- ] || { echo "no settings file written"; exit 1; }
        echo "main window shown: $caption"
        exit 0
    fi
    kill -0 "$app" 2>/dev/null || { echo "quillon ended early:"; cat "$work/quillon.log"; exit 1; }
    sleep 0.1
done
echo "no window captioned '$caption' within 10 s"
xwininfo -display "$display" -root -tree || true
cat "$work/quillon.log"
exit 1
