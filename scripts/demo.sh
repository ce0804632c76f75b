#!/usr/bin/env bash
# Programs a sample firmware into the simulated PC's flash and checks the chip holds it.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/default
if [ ! -x "$build/tool/lptspi-sim" ] || [ ! -x "$build/tool/lptspi-scramble" ]; then
    echo "Building lptspi-sim (first run only)..."
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target lptspi lptspi-scramble >/dev/null
fi
demo=$build/demo
mkdir -p "$demo"

# About 300 KiB of firmware anyone can recognise in a hex dump: 5120 numbered lines.
seq 1 5120 | awk '{ printf "lptspi demo firmware line %05d of 05120 -- 0123456789abcdef\n", $1 }' \
    > "$demo/firmware.bin"
size=$(wc -c < "$demo/firmware.bin")
"$build/tool/lptspi-scramble" "$demo/firmware.bin" "$demo/image.bin"
echo "Firmware: $demo/firmware.bin ($size bytes), scrambled into $demo/image.bin"
echo "Flash:    $demo/chip.bin (the simulated chip, kept between runs)"
echo
echo "\$ lptspi-sim $demo/image.bin"

status=0
LPTSPI_SIM_CHIP="$demo/chip.bin" LPTSPI_SIM_REPORT=1 "$build/tool/lptspi-sim" "$demo/image.bin" \
    2> "$demo/report.txt" || status=$?
echo
echo
echo "lptspi-sim exited with status $status; the simulator's account of the run:"
cat "$demo/report.txt"
echo

if [ "$status" -eq 0 ] && cmp -s -n "$size" "$demo/firmware.bin" "$demo/chip.bin"; then
    echo "OK: the chip now holds the firmware (its first $size bytes equal $demo/firmware.bin)."
    echo "The chip's first lines:"
    head -n 3 "$demo/chip.bin"
else
    echo "FAILED: the chip does not hold the firmware."
    exit 1
fi
