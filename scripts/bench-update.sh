#!/usr/bin/env bash
# Times lptspi --update against lptspi --fast on a full random 4095-page image (the SST25VF040B
# its first 2048 pages) with each simulated flash family at its typical times: --fast writes the
# image, --update then finds the board identical, and once more with one 64 KiB sector of the
# chip changed. Prints each run's projected time on real hardware and the two ratios to --fast
# (the targets: at most 0.5 identical, 0.6 one sector off). Every run must leave the image in
# the chip.
#   scripts/bench-update.sh [BUILD] [FAMILY...]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
shift || true
families=("$@")
[ ${#families[@]} -gt 0 ] || families=(m25p80 w25q80 mx25l8005 gd25q80 en25f80 sst25vf080b
                                       sst26vf016b at25df081a m45pe80)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1048320 /dev/urandom > "$work/firmware.bin"
"$build/tool/lptspi-scramble" "$work/firmware.bin" "$work/image.bin" > /dev/null
head -c 524288 "$work/firmware.bin" > "$work/half.bin"
"$build/tool/lptspi-scramble" "$work/half.bin" "$work/half-image.bin" > /dev/null

projected() {
    sed -n 's/^lptspi-sim: projected time on real hardware: \([0-9.]*\) s.*/\1/p' "$work/err"
}
run() { # what, then the options
    local what=$1
    shift
    LPTSPI_SIM_FLASH=$family LPTSPI_SIM_CHIP="$work/chip.bin" LPTSPI_SIM_REPORT=1 \
        "$build/tool/lptspi-sim" "$@" "$work/$image.bin" > "$work/out" 2> "$work/err" || {
        echo "$family: $what failed"; tail -3 "$work/out"; exit 1; }
    cmp -s -n "$size" "$work/firmware.bin" "$work/chip.bin" ||
        { echo "$family: $what left the chip without the image"; exit 1; }
}

printf '%-12s %10s %10s %10s %8s %8s\n' family fast same one-off same/f one/f
for family in "${families[@]}"; do
    image=image size=1048320
    [ "$family" = sst25vf040b ] && image=half-image size=524288
    rm -f "$work"/chip.bin*
    run --fast --fast
    fast=$(projected)
    run "--update (identical)" --update
    same=$(projected)
    # One 64 KiB sector of the chip changed: sector 5, its bytes inverted.
    python3 - "$work/chip.bin" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
for i in range(5 * 65536, 6 * 65536):
    data[i] ^= 0xFF
open(path, 'wb').write(data)
PY
    run "--update (one sector off)" --update
    one=$(projected)
    awk -v f="$family" -v a="$fast" -v b="$same" -v c="$one" \
        'BEGIN { printf "%-12s %8.1f s %8.1f s %8.1f s %8.2f %8.2f\n", f, a, b, c, b / a, c / a }'
done
