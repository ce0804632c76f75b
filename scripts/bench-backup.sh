#!/usr/bin/env bash
# Times a backup of a full 1 MiB chip with lptspi-backup-sim (both reads, the identification and
# the size checks): wall time, peak memory, and the simulator's count of port accesses and driver
# requests with the projected time on real hardware, against the floor of 2 reads x 8 bits x
# 1,048,576 bytes x 3 port accesses (the fast link receiving) at 1 us each.
#   scripts/bench-backup.sh [BUILD]          RUNS=n runs (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1048576 /dev/urandom > "$work/chip.bin"
cp "$work/chip.bin" "$work/original.bin"

runs=${RUNS:-3}
for i in $(seq 1 "$runs"); do
    rm -f "$work/backup.bin"
    LPTSPI_SIM_CHIP="$work/chip.bin" LPTSPI_SIM_REPORT=1 /usr/bin/time -f "wall %e s, peak %M KiB" \
        "$build/tool/lptspi-backup-sim" "$work/backup.bin" > "$work/out" 2> "$work/err"
    "$build/tool/lptspi-scramble" "$work/backup.bin" "$work/raw.bin"
    cmp -s "$work/raw.bin" <(head -c 1048320 "$work/original.bin") ||
        { echo "the backup does not hold the chip"; exit 1; }
    echo "run $i: $(tail -n 1 "$work/err")"
done
echo "simulator report of the last run:"
grep '^lptspi-sim:' "$work/err"
accesses=$(sed -n 's/^lptspi-sim: port accesses: //p' "$work/err")
floor=$((2 * 8 * 1048576 * 3))
echo "floor: $floor port accesses ($((floor / 1000)) ms); this run: $((accesses - floor)) more" \
     "($(awk -v a="$accesses" -v f="$floor" 'BEGIN { printf "%.3f", (a - f) * 100 / f }') %)"
