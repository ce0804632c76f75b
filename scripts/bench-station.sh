#!/usr/bin/env bash
# lptspi --station on the simulated PC: ten boards (M25P80) written with a full 4095-page random
# image, the operator's Ctrl-C after the last. Reports the wall time, boards per hour from the
# projected time on real hardware (the operator's handling included: 2 s with the cable empty
# before each board, eight identification polls before it takes a board away), and the
# station's own time per board beyond one lptspi --fast run: the projected time less the pauses
# of the polls, per board, less --fast's projected time.
#   scripts/bench-station.sh [BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1048320 /dev/urandom > "$work/firmware.bin"
"$build/tool/lptspi-scramble" "$work/firmware.bin" "$work/image.bin" > /dev/null
boards=10

report() { sed -n "s/^lptspi-sim: $1: //p" "$2" | sed 's/ .*//; s/,//'; }
paused() { sed -n 's/^lptspi-sim: pauses: [0-9]*, \([0-9]*\) ms in all/\1/p' "$1"; }

LPTSPI_SIM_CHIP="$work/fast" LPTSPI_SIM_REPORT=1 \
    "$build/tool/lptspi-sim" --fast "$work/image.bin" > "$work/fast.out" 2> "$work/fast.err"
fast=$(report "projected time on real hardware" "$work/fast.err")
fast_paused=$(paused "$work/fast.err")

list=$(printf 'm25p80,%.0s' $(seq 1 $boards))end
start=$(date +%s.%N)
status=0
LPTSPI_SIM_CHIP="$work/chip" LPTSPI_SIM_BOARDS="$list" LPTSPI_SIM_REPORT=1 \
    "$build/tool/lptspi-sim" --station --log "$work/log.csv" "$work/image.bin" \
    > "$work/station.out" 2> "$work/station.err" || status=$?
wall=$(echo "$(date +%s.%N) - $start" | bc)
[ "$status" = 0 ] || { echo "the station ended with $status"; tail -n 3 "$work/station.out"; exit 1; }
for n in $(seq 1 $boards); do
    cmp -s -n 1048320 "$work/firmware.bin" "$work/chip.$n" ||
        { echo "board $n does not hold the image"; exit 1; }
done
tail -n 1 "$work/station.out"
projected=$(report "projected time on real hardware" "$work/station.err")
station_paused=$(paused "$work/station.err")
awk -v boards=$boards -v wall="$wall" -v projected="$projected" -v fast="$fast" \
    -v paused="$station_paused" -v fast_paused="$fast_paused" 'BEGIN {
    polls = (paused - boards * fast_paused) / 1000
    printf "wall time: %.1f s for %d boards\n", wall, boards
    printf "projected: %.1f s in all, %.1f s a board, %.0f boards per hour\n",
        projected, projected / boards, boards * 3600 / projected
    printf "lptspi --fast alone: %.1f s a board\n", fast
    printf "polls (the operator handling the boards): %.1f s in all\n", polls
    printf "station time per board beyond --fast: %.2f s (target 2 s at most)\n",
        (projected - polls) / boards - fast
}'
