#!/usr/bin/env bash
# corvel-xfer against the virtual board's loadx, loady, sx and sy, byte for byte. Each run opens
# a fresh board holding only its demo file, so what goes up is checked by the board's own answer.
# usage: xfer_board_test.sh CORVEL_XFER
set -u
xfer=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
demo_size=2186
run() {
    timeout 60 "$xfer" "$@" --port SIM-BOARD --terminator cr >"$work/log" 2>&1 ||
        { echo "FAIL: $*"; sed 's/^/    /' "$work/log"; fail=1; }
}
run receive --dir "$work" --protocol ymodem --start-command "sy demo.txt"
[ "$(stat -c %s "$work/demo.txt" 2>/dev/null)" = $demo_size ] || { echo "FAIL: sy size"; fail=1; }
run receive "$work/x.txt" --protocol xmodem-crc --start-command "sx demo.txt" --strip-padding
cmp -s "$work/x.txt" "$work/demo.txt" || { echo "FAIL: sx differs from sy"; fail=1; }
head -c 70000 /dev/urandom >"$work/up.bin"
run send "$work/up.bin" --protocol ymodem --start-command loady
grep -q "YMODEM: sent 1 file (70000 bytes)" "$work/log" || { echo "FAIL: loady"; fail=1; }
run send "$work/up.bin" --protocol xmodem-1k --start-command "loadx up.bin"
grep -q "XMODEM-1K: sent" "$work/log" || { echo "FAIL: loadx"; fail=1; }
[ "$fail" = 0 ] && echo "the virtual board sends and takes XMODEM and YMODEM"
exit $fail
