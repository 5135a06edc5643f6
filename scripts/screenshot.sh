#!/usr/bin/env bash
# Makes docs/screenshot.png: both windows after a START and a zoom click,
# under a virtual X server. Needs xvfb, xdotool and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${QUARLO_IN_XVFB:-}" ]; then
    scripts/build.sh >/dev/null
    exec env QUARLO_IN_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cp build/quarlo build/Color.Ini "$work/"
"$work/quarlo" &
pid=$!
sleep 2

# START sits at (176, 44) in the control window, which stands at x = 800.
xdotool mousemove 1020 56 click 1
for _ in $(seq 1 120); do
    [ -e "$work/Bmp/M000.Bmp" ] && break
    sleep 0.5
done
sleep 1
# Read out and zoom on a point of the boundary.
xdotool mousemove 272 330
sleep 0.5
xdotool click 1
sleep 1
import -window root -crop 1072x821+0+0 docs/screenshot.png
echo "wrote docs/screenshot.png"
