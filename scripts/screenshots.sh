#!/usr/bin/env bash
# Pictures of the manager's three dialogs for the README: builds the picture
# program and runs it under a virtual display into docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja >/dev/null
cmake --build "$BUILD" --target tarnwellUSB-screenshots
xvfb-run -a -s "-screen 0 1280x1024x24" "$BUILD/bin/tarnwellUSB-screenshots" docs/screenshots
ls -l docs/screenshots/*.png
