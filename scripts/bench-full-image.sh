#!/usr/bin/env bash
# Times a whole 4095-page run of lptspi-sim: wall time, peak memory, and the simulator's count of
# port accesses and pauses with the projected time on real hardware.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1048320 /dev/urandom > "$work/firmware.bin"
"$build/tool/lptspi-scramble" "$work/firmware.bin" "$work/image.bin"

runs=${RUNS:-5}
for i in $(seq 1 "$runs"); do
    rm -f "$work/chip.bin"
    LPTSPI_SIM_CHIP="$work/chip.bin" LPTSPI_SIM_REPORT=1 /usr/bin/time -f "wall %e s, peak %M KiB" \
        "$build/tool/lptspi-sim" "$work/image.bin" > "$work/out" 2> "$work/err"
    cmp -s -n 1048320 "$work/firmware.bin" "$work/chip.bin" || { echo "chip does not hold the image"; exit 1; }
    echo "run $i: $(tail -n 1 "$work/err")"
done
echo "simulator report of the last run:"
grep '^lptspi-sim:' "$work/err"
