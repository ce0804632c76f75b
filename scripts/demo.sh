#!/usr/bin/env bash
# On the simulated PC, as a technician would: checks the port, driver, wiring and flash with
# lptspi-check, backs up the flash's old firmware before anything else (lptspi
# erases the whole chip, and on a real NT-family PC this first run also brings up the driver),
# then programs a sample firmware with lptspi --fast, checks the chip holds it, and checks the
# backup gives back the old firmware.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/default
if [ ! -x "$build/tool/lptspi-sim" ] || [ ! -x "$build/tool/lptspi-scramble" ] ||
   [ ! -x "$build/tool/lptspi-backup-sim" ] || [ ! -x "$build/tool/lptspi-check-sim" ]; then
    echo "Building lptspi-sim (first run only)..."
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" \
        --target lptspi lptspi-scramble lptspi-backup lptspi-check >/dev/null
fi
demo=$build/demo
# A fresh folder each time: lptspi-backup never replaces an earlier backup.
rm -rf "$demo"
mkdir -p "$demo"

# About 300 KiB of firmware anyone can recognise in a hex dump: 5120 numbered lines.
seq 1 5120 | awk '{ printf "lptspi demo firmware line %05d of 05120 -- 0123456789abcdef\n", $1 }' \
    > "$demo/firmware.bin"
size=$(wc -c < "$demo/firmware.bin")
"$build/tool/lptspi-scramble" "$demo/firmware.bin" "$demo/image.bin"
# The board's flash holds an older firmware, which the demo backs up before anything else.
seq 1 700 | awk '{ printf "old firmware %04d\n", $1 }' > "$demo/old-firmware.bin"
cp "$demo/old-firmware.bin" "$demo/chip.bin"
echo "Firmware: $demo/firmware.bin ($size bytes), scrambled into $demo/image.bin"
echo "Flash:    $demo/chip.bin (the simulated chip), holding $demo/old-firmware.bin"
echo
echo "\$ lptspi-check-sim"
status=0
LPTSPI_SIM_CHIP="$demo/chip.bin" "$build/tool/lptspi-check-sim" || status=$?
if [ "$status" -ne 0 ]; then
    echo "FAILED: lptspi-check-sim exited with status $status."
    exit 1
fi
echo
echo "\$ lptspi-backup-sim $demo/backup.bin"
status=0
LPTSPI_SIM_CHIP="$demo/chip.bin" "$build/tool/lptspi-backup-sim" "$demo/backup.bin" || status=$?
if [ "$status" -ne 0 ]; then
    echo "FAILED: lptspi-backup-sim exited with status $status."
    exit 1
fi
echo
echo "\$ lptspi-sim --fast $demo/image.bin"

# The everyday write: the progress a line every tenth when this goes to a log, then the verdict.
status=0
LPTSPI_SIM_CHIP="$demo/chip.bin" LPTSPI_SIM_REPORT=1 "$build/tool/lptspi-sim" --fast \
    "$demo/image.bin" 2> "$demo/report.txt" || status=$?
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

# The backup is an image: descrambled, it is the old firmware up to the end of its last page.
"$build/tool/lptspi-scramble" "$demo/backup.bin" "$demo/backup-raw.bin"
old=$(wc -c < "$demo/old-firmware.bin")
echo
if cmp -s -n "$old" "$demo/old-firmware.bin" "$demo/backup-raw.bin"; then
    echo "OK: $demo/backup.bin gives back the old firmware (lptspi-sim $demo/backup.bin restores it)."
else
    echo "FAILED: the backup does not hold the old firmware."
    exit 1
fi
