#!/usr/bin/env bash
# Sets up, builds, and boots a fresh copy of the demo machine: the Session
# Manager stand-in starts the boot-time scanner from BootExecute, on a
# simulated PC with a fixed C:, an empty CD-ROM D: and an infected-looking
# USB stick F:. Press U at the countdown to scan the stick.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
./scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build

# A fresh copy each time, so a run never dirties the pristine machine in git.
machine=$src/run/demo
rm -rf "$machine"
mkdir -p "$src/run"
cp -a demo/machine "$machine"

# DOS attributes (git keeps no extended attributes).
while read -r word path; do
  case "$word" in ''|'#'*) continue ;; esac
  setfattr -n user.DOSATTRIB -v "\"$word\"" "$machine/$path"
done <demo/attributes.txt

# The scanner, installed as the manager would: C:\WINDOWS\system32\tarnwell.exe.
install -D -m 755 build/bin/tarnwell "$machine/c/WINDOWS/system32/tarnwell.exe"

# The manager's folder: tarnwellUSB with its Lib folder holding the scanner
# and the virus library (LibTarget points there).
app="$machine/c/Program Files/tarnwellUSB"
mkdir -p "$app/Lib"
install -m 755 build/bin/tarnwell "$app/Lib/tarnwell.exe"
if [ -x build/bin/tarnwellUSB ]; then
  install -m 755 build/bin/tarnwellUSB "$app/tarnwellUSB"
fi

# Hook: library files, infected samples and anything else other parts of the
# project add to the demo (see demo/populate.d/README).
for hook in demo/populate.d/*.sh; do
  [ -e "$hook" ] || continue
  bash "$hook" "$machine" "$src/build" "$src"
done

exec build/bin/session-manager "$machine"
