#!/usr/bin/env bash
# The default base library and the infected files of the demo PC: EICAR
# test files and archives, test-infected programs (one repairable by its own
# routine, one by the generic repair), a doubly packed test virus, and copies
# of the USB worm's program on C: for the system sweep to find.
# Arguments: machine folder, build folder, source folder.
set -euo pipefail
machine=$1
build=$2
src=$3

lib="$machine/c/Program Files/tarnwellUSB/Lib"
mkdir -p "$lib"
if ls "$build"/library/Base*.dat >/dev/null 2>&1; then
  cp "$build"/library/Base*.dat "$lib/"
fi

samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
python3 "$src/library/samples/make_samples.py" "$samples"

attr() { setfattr -n user.DOSATTRIB -v "\"$1\"" "$2"; }

usb="$machine/usb"
mkdir -p "$usb/Downloads" "$usb/Tools" "$usb/Games"
cp "$samples/eicar.com" "$samples/eicar.com.txt" "$samples/eicar_com.zip" "$samples/eicarcom2.zip" "$usb/Downloads/"
cp "$samples/setup.exe" "$usb/Tools/setup.exe"
cp "$samples/packed2_virus.exe" "$usb/Games/tetris.exe"
cp "$samples/calc.exe" "$usb/Tools/calc.exe"
cp "$samples/clean_docs.zip" "$usb/Downloads/docs.zip"

# The worm's program (the one the stick's autorun.inf starts) also copied
# itself onto the PC, hidden.
worm="$usb/RECYCLER/S-1-5-21-1004336348-1177238915-682003330-512/autorun.exe"
if [ -f "$worm" ]; then
  cp "$worm" "$machine/c/WINDOWS/system32/svch0st.exe"
  attr 0x6 "$machine/c/WINDOWS/system32/svch0st.exe"
  docs="$machine/c/Documents and Settings/Administrator/My Documents"
  mkdir -p "$docs"
  cp "$worm" "$docs/Photos.exe"
fi

# A program on C: infected by the test infector B, repaired by a scan of C:.
mkdir -p "$machine/c/Program Files/WinZip"
cp "$samples/winzip32.exe" "$machine/c/Program Files/WinZip/winzip32.exe"
