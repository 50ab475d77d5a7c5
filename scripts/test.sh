#!/usr/bin/env bash
# Builds Mistvale in build/ and runs every test. Exits non-zero on any failure.
# Options: --asan or --tsan build into build-asan/ or build-tsan/ with that sanitizer instead.
set -euo pipefail
cd "$(dirname "$0")/.."

"./scripts/deps.sh"

build=build
flags=()
case "${1:-}" in
    --asan) build=build-asan; flags+=(-DMISTVALE_ASAN=ON -DMISTVALE_BENCH=OFF) ;;
    --tsan) build=build-tsan; flags+=(-DMISTVALE_TSAN=ON -DMISTVALE_BENCH=OFF) ;;
    "") ;;
    *) echo "usage: $0 [--asan|--tsan]" >&2; exit 2 ;;
esac

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -G Ninja -DMISTVALE_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
cd "$build"
ctest -j "$jobs" --output-on-failure --timeout 300
