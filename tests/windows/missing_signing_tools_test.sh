#!/usr/bin/env bash
# scripts/package.sh where osslsigncode or openssl is missing: one line on standard error naming
# the program and what it is for, status 1, before anything is built. The PATH it runs with holds
# only dirname and the one tool that is there, so a script that went on would fail differently.
#
#   missing_signing_tools_test.sh SOURCE_DIR
set -u
source_dir=$1
bash=$(command -v bash)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fails=0
check() { # missing-program present-program expected-line
    local bin=$work/bin-$1
    mkdir "$bin"
    ln -s "$(command -v dirname)" "$bin/dirname"
    ln -s "$(command -v "$2")" "$bin/$2"
    local status=0
    PATH=$bin "$bash" "$source_dir/scripts/package.sh" >"$work/out" 2>"$work/err" || status=$?
    local err
    err=$(cat "$work/err")
    if [ "$status" -ne 1 ] || [ "$err" != "$3" ] || [ -s "$work/out" ]; then
        echo "FAIL without $1: status $status, standard error:"
        cat "$work/err"
        echo "standard output:"
        cat "$work/out"
        echo "expected status 1 and only: $3"
        fails=1
    else
        echo "ok   without $1: $err"
    fi
}

for tool in osslsigncode openssl; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
check osslsigncode openssl \
    "package.sh: osslsigncode not found: it is needed to sign the 64-bit driver hwinterface.sys"
check openssl osslsigncode \
    "package.sh: openssl not found: it is needed to make the signing certificate and the packaged lptspi-driver-signing.cer"
exit $fails
