#!/usr/bin/env bash
# Times lptspi --fast on a full random 4095-page image (no blank pages) with each simulated flash
# family, from the family's power-up state, with the chips' typical busy times and with their
# datasheet maxima (LPTSPI_SIM_TIMING=max): the projected time on real hardware of each, the driver
# requests and the wall time of the typical run. Every run must leave the image in the chip. The
# SST25VF040B holds 2048 pages: it gets the image's first 2048.
#   scripts/bench-families.sh [BUILD] [FAMILY...]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/default}
shift || true
families=("$@")
[ ${#families[@]} -gt 0 ] || families=(m25p80 w25q80 mx25l8005 gd25q80 en25f80 w25q128 sst25vf080b
                                       sst25vf040b sst25vf016b sst26vf016b at25df081a at26df161a
                                       m45pe80)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c 1048320 /dev/urandom > "$work/firmware.bin"
"$build/tool/lptspi-scramble" "$work/firmware.bin" "$work/image.bin" > /dev/null
head -c 524288 "$work/firmware.bin" > "$work/half.bin"
"$build/tool/lptspi-scramble" "$work/half.bin" "$work/half-image.bin" > /dev/null

printf '%-12s %6s %12s %12s %10s %8s\n' family exit typical max requests wall
for family in "${families[@]}"; do
    image=image size=1048320
    [ "$family" = sst25vf040b ] && image=half-image size=524288
    for timing in max typical; do
        rm -f "$work"/chip.bin*
        status=0
        LPTSPI_SIM_FLASH=$family LPTSPI_SIM_CHIP="$work/chip.bin" LPTSPI_SIM_REPORT=1 \
            LPTSPI_SIM_TIMING=$timing /usr/bin/time -f "%e s" -o "$work/time" \
            "$build/tool/lptspi-sim" --fast "$work/$image.bin" > "$work/out" 2> "$work/err" ||
            status=$?
        if [ "$status" = 0 ] && ! cmp -s -n "$size" "$work/firmware.bin" "$work/chip.bin"; then
            echo "$family at $timing: the chip does not hold the image"; exit 1
        fi
        projected=$(sed -n 's/^lptspi-sim: projected time on real hardware: //p' "$work/err")
        [ "$timing" = max ] && { max=$projected max_status=$status; }
    done
    [ "$max_status" = 0 ] || status="$status/$max_status"
    printf '%-12s %6s %12s %12s %10s %8s\n' "$family" "$status" "$projected" "$max" \
        "$(sed -n 's/^lptspi-sim: driver requests: //p' "$work/err")" "$(tail -n 1 "$work/time")"
done
