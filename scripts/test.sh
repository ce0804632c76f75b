#!/usr/bin/env bash
# Builds and runs every test: the Windows builds and their release packages, the host build, the
# sanitizer build and, where Wine is installed, the 64-bit and the 32-bit Windows executables
# under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

# At most this many jobs at once, in all: CMAKE_BUILD_PARALLEL_LEVEL (which cmake --build itself
# honours), else the number of cores.
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}
if ! [[ "$jobs" =~ ^[1-9][0-9]*$ ]]; then
    echo "test.sh: CMAKE_BUILD_PARALLEL_LEVEL must be a number of jobs from 1 up, not '$jobs'" >&2
    exit 1
fi
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs
werror=()
if [ "${CI:-}" = "true" ]; then
    werror=(-DLPTSPI_WERROR=ON)
fi

step() { printf '\n=== %s ===\n' "$*"; }

# The Windows builds come first: the host build's checks of the executables and packages, and
# the Wine tests, look at what they built.
windows_built=no
windows_x86_built=no
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
    [ "$preset" = windows-x86 ] && windows_x86_built=yes
done

if [ "$windows_built" != yes ] || [ "$windows_x86_built" != yes ]; then
    step "package: SKIPPED (needs both Windows builds)"
elif ! command -v osslsigncode >/dev/null || ! command -v openssl >/dev/null; then
    step "package: SKIPPED (osslsigncode or openssl is not installed)"
else
    step "package: dist/ zips, signed x64 driver (checked by the host build's package.zips)"
    scripts/package.sh
fi

host_build() {
    step "$1: configure, build"
    cmake --preset "$1" "${werror[@]}" >/dev/null
    cmake --build --preset "$1" -j "$jobs"
}

host_build default
step "default: test"
ctest --preset default -j "$jobs" -LE wine
# The sanitizer build is made with every job before the Wine stage starts; its tests then run
# beside it. They leave out the whole suites run again shuffled: the default build's tests have
# shown the order does not matter, and the sanitizer's share of the jobs is the smaller one.
host_build asan

# The Wine stage mostly waits on Wine's inter-process round trips, so the sanitizer build runs
# beside it (at a lower priority) and its output is shown once both are done. The Wine stage runs
# one scenario at a time: one job, and the asan stage gets the rest; with a single job the two
# take turns.
wine_log=build/wine-stage.log
wine_pid=
wine_stage() {
    started=$SECONDS
    status=0
    ctest --test-dir build/default -L wine --output-on-failure || status=$?
    echo "wine stage: $((SECONDS - started)) s"
    return $status
}
if [ ! -x /usr/lib/wine/wine64 ]; then
    step "wine: SKIPPED (wine is not installed)"
elif [ "$windows_built" != yes ]; then
    step "wine: SKIPPED (no windows-x64 build to run)"
else
    # One run for both halves, so they share the template prefix; ctest's label time summary
    # gives each half's time (wine-x64, wine-x86), the prefix's making counting under "wine".
    # The harness skips the x86 half by itself where it cannot run; say why up front.
    if [ "$windows_x86_built" != yes ]; then
        step "wine x86: SKIPPED (no windows-x86 build to run)"
    elif ! wine32=$(/usr/lib/wine/wine --version 2>&1); then
        step "wine x86: SKIPPED (Wine's 32-bit loader does not start: /usr/lib/wine/wine" \
             "--version says: ${wine32:-nothing})"
    fi
    if [ "$jobs" -gt 1 ]; then
        step "wine: the Windows builds end to end under Wine, beside the asan stage"
        wine_stage > "$wine_log" 2>&1 &
        wine_pid=$!
    else
        step "wine: the Windows builds end to end under Wine (one job: before the asan stage)"
        wine_stage
    fi
fi

asan_jobs=$jobs
[ -n "$wine_pid" ] && asan_jobs=$((jobs - 1))
asan_status=0
(
    renice -n 10 -p "$BASHPID" >/dev/null 2>&1 || true
    step "asan: test"
    ctest --preset asan -j "$asan_jobs" -LE 'wine|shuffled'
) || asan_status=$?

if [ -n "$wine_pid" ]; then
    wine_status=0
    wait "$wine_pid" || wine_status=$?
    step "wine: results"
    cat "$wine_log"
    [ "$wine_status" -eq 0 ] || exit "$wine_status"
fi
[ "$asan_status" -eq 0 ] || exit "$asan_status"

step "all tests passed"
