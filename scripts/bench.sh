#!/usr/bin/env bash
# Builds and runs every benchmark under bench/ (one program per add_executable in bench/*/CMakeLists.txt).
# Each prints "name value unit" lines; this script prints them all, prefixed by nothing, in folder order.
set -euo pipefail
cd "$(dirname "$0")/.."

"./scripts/deps.sh"

build=build
jobs=$(nproc 2>/dev/null || echo 2)
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja >/dev/null
fi

targets=()
for list in bench/*/CMakeLists.txt; do
    [ -f "$list" ] || continue
    while read -r name; do
        targets+=("$name")
    done < <(sed -n 's/^[[:space:]]*add_executable(\([A-Za-z0-9_-]*\).*/\1/p' "$list")
done
if [ ${#targets[@]} -eq 0 ]; then
    echo "no benchmarks under bench/" >&2
    exit 0
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}" >/dev/null

export QT_QPA_PLATFORM=offscreen
status=0
for name in "${targets[@]}"; do
    program=$(find "$build" -type f -name "$name" -perm -u+x | head -n 1)
    if [ -z "$program" ]; then
        echo "benchmark $name was not built" >&2
        status=1
        continue
    fi
    "$program" 2>/dev/null || { echo "benchmark $name failed" >&2; status=1; }
done
exit $status
