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
  # They cannot list folders there either, so their seeds go by name.
  options=${ASAN_OPTIONS:-}
  inputs=("$corpus")
  if [ "$(od -An -tx1 -j4 -N1 "$f" | tr -d ' ')" = 01 ]; then
    options=detect_leaks=0:quarantine_size_mb=8${options:+:$options}
    if [ -d "$seeds" ]; then
      list=$(find "$seeds" -type f | paste -sd, -)
      if [ -n "$list" ]; then inputs+=("-seed_inputs=$list"); fi
    fi
  elif [ -d "$seeds" ]; then
    inputs+=("$seeds")
  fi
  ASAN_OPTIONS=$options timeout -s KILL $((FUZZ_SECONDS * 4 + 120)) \
    "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
    "${inputs[@]}" 2>&1 | tail -n 3
done
echo "== all tests passed"
