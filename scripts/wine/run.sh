#!/bin/sh
# Builds both Windows builds (tools; the 64-bit one also gives hwinterface-sim.sys and
# hwi-check.exe) and runs them end to end under Wine through the host build's ctest (label "wine";
# "wine-x64" or "wine-x86" for one half). Extra arguments go to ctest, e.g.
#   scripts/wine/run.sh -R wine.x86.one-page
set -eu
cd "$(dirname "$0")/../.."
for preset in windows-x64 windows-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
done
# The host build only registers the scenarios here; nothing of it has to be compiled.
cmake --preset default >/dev/null
exec ctest --test-dir build/default -L wine --output-on-failure "$@"
