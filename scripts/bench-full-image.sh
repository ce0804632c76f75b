#!/usr/bin/env bash
# Times a whole 4095-page run of lptspi-sim, the default run and lptspi --fast, on a full random
# image (no blank pages): wall time, peak memory, and the simulator's count of port accesses,
# driver requests (also per page) and pauses with the projected time on real hardware.
#   scripts/bench-full-image.sh [BUILD]      RUNS=n runs per mode (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1048320 /dev/urandom > "$work/firmware.bin"
"$build/tool/lptspi-scramble" "$work/firmware.bin" "$work/image.bin"

runs=${RUNS:-3}
for mode in default fast; do
    args=("$work/image.bin")
    [ "$mode" = fast ] && args=(--fast "$work/image.bin")
    echo "== lptspi ${args[*]/#$work\//}"
    for i in $(seq 1 "$runs"); do
        rm -f "$work/chip.bin"
        LPTSPI_SIM_CHIP="$work/chip.bin" LPTSPI_SIM_REPORT=1 /usr/bin/time -f "wall %e s, peak %M KiB" \
            "$build/tool/lptspi-sim" "${args[@]}" > "$work/out" 2> "$work/err"
        cmp -s -n 1048320 "$work/firmware.bin" "$work/chip.bin" ||
            { echo "chip does not hold the image"; exit 1; }
        echo "run $i: $(tail -n 1 "$work/err")"
    done
    echo "simulator report of the last run:"
    grep '^lptspi-sim:' "$work/err"
    requests=$(sed -n 's/^lptspi-sim: driver requests: //p' "$work/err")
    echo "driver requests per page: $(awk -v r="$requests" 'BEGIN { printf "%.1f", r / 4095 }')"
done
