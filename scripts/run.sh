#!/usr/bin/env bash
# Builds Mistvale (installing what is missing) and starts it.
#
#   scripts/run.sh           Mistvale on your own tree ($XDG_DATA_HOME/Mistvale.xml) and settings
#   scripts/run.sh --demo    a demonstration: a simulated Modbus device on 127.0.0.1 (and, where socat is
#                            installed, on a pseudo-terminal pair standing in for a serial line) and
#                            Mistvale on a demo tree in a temporary folder; your own files are not touched
#
# Any further arguments are ignored (Mistvale itself answers only --version and --help).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

demo=0
case "${1:-}" in
    --demo) demo=1 ;;
    "") ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "usage: $0 [--demo]" >&2; exit 2 ;;
esac

"./scripts/deps.sh"

build=${MISTVALE_BUILD_DIR:-build}
jobs=$(nproc 2>/dev/null || echo 2)
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" -j "$jobs" --target mistvale mistvale-sim

if [ "$demo" -eq 0 ]; then
    exec "$build/mistvale"
fi

# --- the demonstration --------------------------------------------------------------------------------
tmp=$(mktemp -d "${TMPDIR:-/tmp}/mistvale-demo.XXXXXX")
sim_pid=""
socat_pid=""
cleanup() {
    trap - EXIT INT TERM HUP
    for pid in $sim_pid $socat_pid; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in $sim_pid $socat_pid; do
        # At most two seconds for each to go, then it is stopped for good.
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

mkdir -p "$tmp/data" "$tmp/config"
serial_port=""
sim_args=(--config "$root/resources/demo/demo_sim.xml" --address 127.0.0.1 --port 0)
if command -v socat >/dev/null 2>&1; then
    socat -d -d "pty,raw,echo=0,link=$tmp/ttyDemoDevice" "pty,raw,echo=0,link=$tmp/ttyDemo" \
        2>"$tmp/socat.log" &
    socat_pid=$!
    for _ in $(seq 50); do
        [ -e "$tmp/ttyDemoDevice" ] && [ -e "$tmp/ttyDemo" ] && break
        sleep 0.1
    done
    if [ -e "$tmp/ttyDemoDevice" ] && [ -e "$tmp/ttyDemo" ]; then
        serial_port="$tmp/ttyDemo"
        sim_args+=(--rtu "$tmp/ttyDemoDevice" --baud 38400 --parity N)
    else
        echo "socat did not open a pseudo-terminal pair; the demo runs without the serial group" >&2
    fi
else
    echo "socat is not installed; the demo runs without the serial group" >&2
fi

"$build/mistvale-sim" "${sim_args[@]}" >"$tmp/sim.out" 2>"$tmp/sim.err" &
sim_pid=$!
port=""
for _ in $(seq 100); do
    if grep -q '^ready' "$tmp/sim.out" 2>/dev/null; then
        port=$(sed -n 's/^tcp [^ ]* \([0-9]*\)$/\1/p' "$tmp/sim.out")
        break
    fi
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "the simulator did not start:" >&2
    cat "$tmp/sim.err" >&2
    exit 1
fi

rtu_group=""
if [ -n "$serial_port" ]; then
    # The serial port list shows a port named in MISTVALE_SERIAL_PORTS by the last part of its path.
    rtu_group=$(sed "s|@SERIAL_PORT@|$(basename "$serial_port")|" "$root/resources/demo/rtu_group.xml.in")
    export MISTVALE_SERIAL_PORTS="$serial_port${MISTVALE_SERIAL_PORTS:+:$MISTVALE_SERIAL_PORTS}"
fi
# Written without a line break at the end, as Mistvale itself writes the file.
sed -e "s|@TCP_PORT@|$port|" -e "s|@RTU_GROUP@|${rtu_group//|/\\|}|" \
    "$root/resources/demo/Mistvale.xml.in" | tr -d '\n' >"$tmp/data/Mistvale.xml"

echo "Demo: simulator on 127.0.0.1:$port${serial_port:+ and on $serial_port}; data in $tmp"
XDG_DATA_HOME="$tmp/data" XDG_CONFIG_HOME="$tmp/config" "$build/mistvale" || true
