#!/usr/bin/env bash
# Builds and runs every test: the host build, the sanitizer build, the Windows builds and, where
# Wine is installed, the Windows executables under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
werror=()
if [ "${CI:-}" = "true" ]; then
    werror=(-DLPTSPI_WERROR=ON)
fi

step() { printf '\n=== %s ===\n' "$*"; }

# The Windows builds come first: the Wine tests run what windows-x64 built.
windows_built=no
for preset in windows-x86 windows-x64; do
    case $preset in
        windows-x86) compiler=i686-w64-mingw32-g++-win32 ;;
        windows-x64) compiler=x86_64-w64-mingw32-g++-win32 ;;
    esac
    if ! command -v "$compiler" >/dev/null; then
        step "$preset: SKIPPED ($compiler is not installed)"
        continue
    fi
    step "$preset: configure, build (tool, scrambler, drivers)"
    cmake --preset "$preset" -DLPTSPI_WERROR=ON >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    [ "$preset" = windows-x64 ] && windows_built=yes
done

for preset in default asan; do
    step "$preset: configure, build, test"
    cmake --preset "$preset" "${werror[@]}" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs" -LE wine
done

if [ ! -x /usr/lib/wine/wine64 ]; then
    step "wine: SKIPPED (wine is not installed)"
elif [ "$windows_built" != yes ]; then
    step "wine: SKIPPED (no windows-x64 build to run)"
else
    step "wine: the windows-x64 build end to end under Wine"
    ctest --test-dir build/default -L wine --output-on-failure
fi

step "all tests passed"
