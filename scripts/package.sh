#!/usr/bin/env bash
# Builds the release packages for Windows users into dist/:
#   dist/lptspi-<version>-windows-x86.zip   32-bit programs, hwinterface.sys, README.txt
#   dist/lptspi-<version>-windows-x64.zip   64-bit programs, signed hwinterface.sys, README.txt
#                                           and the signing certificate (.cer)
#   dist/SHA256SUMS
# The version is the project's (CMakeLists.txt). The 64-bit driver is signed, SHA-1 with SHA-256
# nested, with the certificate and key named by LPTSPI_SIGN_CERT and LPTSPI_SIGN_KEY (PEM files;
# LPTSPI_SIGN_PASSWORD_FILE if the key has a password), or else with a throw-away self-signed
# certificate made in the build folder. Needs both MinGW-w64 compilers, osslsigncode and openssl
# (it says which is missing before building anything).
set -euo pipefail
cd "$(dirname "$0")/.."

# Without these the 64-bit build has no package to make: say so before building anything.
missing=0
need() {
    if ! command -v "$1" >/dev/null 2>&1; then
        echo "package.sh: $1 not found: it is needed to $2" >&2
        missing=1
    fi
}
need osslsigncode "sign the 64-bit driver hwinterface.sys"
need openssl "make the signing certificate and the packaged lptspi-driver-signing.cer"
[ "$missing" -eq 0 ] || exit 1

jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc 2>/dev/null || echo 2)}
mkdir -p dist
zips=()
for preset in windows-x86 windows-x64; do
    build=build/$preset
    echo "=== $preset: package ==="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    cmake --build --preset "$preset" --target lptspi-package-files -j "$jobs"
    rm -rf "$build/dist"
    cpack --config "$build/CPackConfig.cmake" >/dev/null
    made=("$build"/dist/lptspi-*-windows-*.zip)
    if [ ${#made[@]} -ne 1 ] || [ ! -f "${made[0]}" ]; then
        echo "package.sh: cpack made no single zip in $build/dist" >&2
        exit 1
    fi
    name=$(basename "${made[0]}")
    cp "${made[0]}" "dist/$name.tmp"
    mv -f "dist/$name.tmp" "dist/$name"
    zips+=("$name")
done

(cd dist && sha256sum "${zips[@]}" >SHA256SUMS.tmp && mv -f SHA256SUMS.tmp SHA256SUMS)
for name in "${zips[@]}"; do
    printf '%s  %s bytes\n' "dist/$name" "$(stat -c %s "dist/$name")"
done
echo "dist/SHA256SUMS"
