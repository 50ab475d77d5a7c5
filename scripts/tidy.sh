#!/usr/bin/env bash
# The bug-finding gate: clang-tidy with the checks of .clang-tidy over the program, the simulator, the
# tests and the benchmarks, as build/ compiles them (scripts/test.sh builds it; without it this script
# configures and builds it first). Fails on any finding; prints the files, the findings and the time.
# The static analyzer runs in its shallow mode (less inlining across calls): its deep mode takes half a
# minute for one test file full of assertion macros, the whole gate then some 25 minutes on 2 cores.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

"./scripts/deps.sh"

build=${MISTVALE_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja >/dev/null
fi
# Generated headers (the version, Qt's moc output) must exist before the sources are read.
cmake --build "$build" -j "$jobs" >/dev/null

log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$(date +%s)
status=0
run-clang-tidy -p "$build" -j "$jobs" -quiet \
    -extra-arg=-Xclang -extra-arg=-analyzer-config -extra-arg=-Xclang -extra-arg=mode=shallow \
    "$root/(platform|model|modbus|mqtt|app|dialogs|treelist|update|report|sim|tests|bench)/" >"$log" 2>&1 ||
    status=$?
seconds=$(($(date +%s) - start))
files=$(grep -c '^clang-tidy' "$log" || true)
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -cE '^[^ ]+:[0-9]+:[0-9]+: (error|warning):' || true)
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^[^ ]+:[0-9]+:[0-9]+: (error|warning):|^clang-tidy.*error' | sort -u >&2
    echo "tidy: $findings findings in $files files ($seconds s)" >&2
    exit 1
fi
echo "tidy: 0 findings in $files files ($seconds s)"
