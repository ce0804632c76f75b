#!/bin/sh
# Builds the 64-bit Windows build (tool, hwinterface-sim.sys, hwi-check.exe) and runs it end to
# end under Wine through the host build's ctest (label "wine"). Extra arguments go to ctest, e.g.
#   scripts/wine/run.sh -R wine.one-page
set -eu
cd "$(dirname "$0")/../.."
cmake --preset windows-x64 >/dev/null
cmake --build --preset windows-x64 -j "$(nproc)"
# The host build only registers the scenarios here; nothing of it has to be compiled.
cmake --preset default >/dev/null
exec ctest --test-dir build/default -L wine --output-on-failure "$@"
