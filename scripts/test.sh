#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of every
# libFuzzer target. FUZZ_SECONDS sets the length of each fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-15}

echo "== build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
echo "== tests"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure -j "$JOBS"

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWELL_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$JOBS"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-asan --output-on-failure -j "$JOBS"

echo "== fuzzers (${FUZZ_SECONDS}s each)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARNWELL_FUZZ=ON -DTARNWELL_GUI=OFF >/dev/null
cmake --build build-fuzz -j "$JOBS" --target fuzzers
for f in build-fuzz/fuzz/*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=fuzz/seeds/$name
  echo "-- $name"
  # 32-bit fuzzers run under qemu-i386, where LeakSanitizer cannot stop the
  # world (qemu refuses its clone flags) and would spin at exit, and a large
  # allocator quarantine exhausts the sanitizer's address space.
  options=${ASAN_OPTIONS:-}
  if [ "$(od -An -tx1 -j4 -N1 "$f" | tr -d ' ')" = 01 ]; then
    options=detect_leaks=0:quarantine_size_mb=8${options:+:$options}
  fi
  inputs=("$corpus")
  if [ -d "$seeds" ]; then inputs+=("$seeds"); fi
  artifacts=build-fuzz/artifacts/$name
  rm -rf "$artifacts"
  mkdir -p "$artifacts"
  log=build-fuzz/$name.log
  if ASAN_OPTIONS=$options timeout -s KILL $((FUZZ_SECONDS * 4 + 120)) \
    "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
    -artifact_prefix="$artifacts/" "${inputs[@]}" >"$log" 2>&1; then
    tail -n 3 "$log"
    continue
  fi
  cat "$log"
  # A finding is kept as an input file; the code under test is deterministic,
  # so a real one fails again when that input is run alone. The emulator that
  # runs the 32-bit fuzzers has, very rarely, stopped a run at start-up; such
  # a stop leaves an input that passes, and is reported but not counted.
  found=$(find "$artifacts" -type f | head -n 20)
  if [ -z "$found" ]; then
    echo "!! $name failed without leaving an input"
    exit 1
  fi
  for input in $found; do
    for attempt in 1 2 3; do
      if ! ASAN_OPTIONS=$options timeout -s KILL 120 "$f" -rss_limit_mb=2048 -timeout=10 "$input" \
          >"$log.again" 2>&1; then
        cat "$log.again"
        echo "!! $name fails again on $input"
        exit 1
      fi
    done
  done
  echo "!! $name stopped, but its inputs pass when run again (3 times each): an emulator stop, not a finding"
done
echo "== all tests passed"
