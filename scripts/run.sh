#!/usr/bin/env bash
# Builds the program and starts it. Installs only what that needs.
set -euo pipefail
cd "$(dirname "$0")/.."

# Said before anything is installed or built: without a display Qt would
# only fail at the very end with a platform-plugin error. A platform named
# in QT_QPA_PLATFORM (offscreen, vnc, ...) needs no display.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'MSG'
There is no display to open Quarlo's windows on: neither DISPLAY nor
WAYLAND_DISPLAY is set. Quarlo is a desktop program. Either
  - run this command in a terminal on the desktop, or over "ssh -X";
  - or start it on a virtual screen (Debian package xvfb):
      xvfb-run -a -s "-screen 0 1280x1024x24" ./scripts/run.sh
  - or only build it: ./scripts/build.sh
MSG
    exit 1
fi

scripts/build.sh
exec build/quarlo "$@"
