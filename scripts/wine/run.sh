#!/bin/sh
# Builds both Windows builds (tools; the 64-bit one also gives hwinterface-sim.sys and
# hwi-check.exe) and the host build's programs, and runs the Windows ones end to end under Wine
# through the host build's ctest (label "wine"; "wine-x64" or "wine-x86" for one half). Extra
# arguments go to ctest, e.g.
#   scripts/wine/run.sh -R wine.x86.one-page
set -eu
cd "$(dirname "$0")/../.."
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
done
# The host build registers the scenarios; of it only the programs on the simulated PC, whose runs
# the families' and the station's scenarios are compared with, are compiled.
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target lptspi lptspi-check lptspi-backup
exec ctest --test-dir build/default -L wine --output-on-failure "$@"
