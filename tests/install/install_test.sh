#!/usr/bin/env bash
# usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
need() {
    if [ ! -e "$prefix/$1" ]; then
        echo "missing after install: $1"
        fail=1
    fi
}
need bin/corvel
need bin/corvel-kmodem
need share/man/man1/corvel.1
need share/man/man1/corvel-kmodem.1
need bin/corvel-xfer
need share/man/man1/corvel-xfer.1
need share/applications/dev.corvel.Corvel.desktop
need share/metainfo/dev.corvel.Corvel.metainfo.xml
need share/icons/hicolor/scalable/apps/dev.corvel.Corvel.svg
for size in 16 22 24 32 48 64 128 256; do
    need "share/icons/hicolor/${size}x${size}/apps/dev.corvel.Corvel.png"
done
need share/doc/corvel/README.md
need share/doc/corvel/LICENSE
[ "$fail" = 0 ] || exit 1

desktop-file-validate "$prefix/share/applications/dev.corvel.Corvel.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/dev.corvel.Corvel.metainfo.xml" >/dev/null

# The installed programs run and say who they are.
"$prefix/bin/corvel-kmodem" --version | grep -q '2\.6'
"$prefix/bin/corvel" --version | grep -q '2\.6'
"$prefix/bin/corvel-kmodem" --help | grep -q -- '--port'
"$prefix/bin/corvel-xfer" --help | grep -q -- '--protocol'
"$prefix/bin/corvel" --help | grep -q 'CORVEL_EXTRA_PORTS'
echo "install tree complete and valid"
