#!/usr/bin/env bash
# corvel-xfer against lrzsz (sx, rx, sb, rb) over socat pseudo-terminal pairs: every protocol
# variant, both directions, the sizes around the block boundaries and one of 64 KiB, byte for
# byte. Larger files add time (lrzsz runs about 2 s each however small) and no new case.
#
# lrzsz runs with the flush shim preloaded. On a pty its receivers' input purge after each ACK
# (and at start) can throw away a block (or our first request) already queued, and its output
# purge at exit the last bytes it wrote; a UART would have moved those bytes on already. With
# both purges gone the start order no longer matters: whichever side starts first, its first
# bytes wait in the pty until the other reads them. Our side still opens its port first (and is
# given a moment to): opening applies the line settings, which purges what already waited.
#
# The script also holds both ends of each pair open until the run is over. Otherwise the side
# that finishes first closes the last handle on its end, socat takes that as the end of the
# line and exits, and the hang-up of the other end throws away what that end had not read yet:
# rx's ACK of our EOT (rx done, file complete, our sender left waiting), or our ACK of sx's.
# A wire stays a wire when a program on it exits.
#
# usage: xfer_lrzsz_test.sh CORVEL_XFER FLUSH_SHIM [quick]
set -u
xfer=$1
shim=$2
quick=${3:-}
for tool in socat sx rx sb rb python3; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
socat_pid=
cleanup() {
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail=0

pair() {
    rm -f "$work/a" "$work/b"
    socat pty,raw,echo=0,link="$work/a" pty,raw,echo=0,link="$work/b" 2>/dev/null &
    socat_pid=$!
    for _ in $(seq 100); do
        if [ -e "$work/a" ] && [ -e "$work/b" ]; then
            exec 8<>"$work/a" 9<>"$work/b"
            return 0
        fi
        sleep 0.05
    done
    echo "socat did not make its pair"
    exit 1
}
unpair() {
    exec 8<&- 9<&-
    kill "$socat_pid" 2>/dev/null
    wait "$socat_pid" 2>/dev/null
    socat_pid=
}

# A file of n random bytes whose last byte is no 0x1A, which XMODEM could not tell from padding.
make_file() {
    python3 - "$1" "$2" <<'PY'
import os, sys
n = int(sys.argv[2]); b = bytearray(os.urandom(n))
if n and b[-1] == 0x1A: b[-1] = 0
open(sys.argv[1], 'wb').write(b)
PY
}

# The received file is the sent one followed only by 0x1A padding of less than a block.
padded_same() {
    python3 - "$1" "$2" <<'PY'
import sys
a = open(sys.argv[1], 'rb').read(); b = open(sys.argv[2], 'rb').read()
ok = b[:len(a)] == a and len(b) - len(a) < 1024 and all(c == 0x1A for c in b[len(a):])
sys.exit(0 if ok else 1)
PY
}

# run DIR LRZSZ-COMMAND CORVEL-XFER-ARGS...: one transfer on a fresh pair; sets ours and st.
run() {
    local dir=$1 cmd=$2 began=$SECONDS
    shift 2
    pair
    timeout 30 "$xfer" "$@" --port "$work/a" >"$work/log" 2>&1 &
    local op=$!
    sleep 0.3
    (cd "$dir" && eval "LD_PRELOAD=$shim timeout 30 $cmd" <"$work/b" >"$work/b" 2>/dev/null)
    st=$?
    wait $op
    ours=$?
    unpair
    # Not failures, but what a stall or a lost last answer looks like, for whoever reads the log.
    [ $((SECONDS - began)) -gt 10 ] && echo "NOTE $cmd / $*: $((SECONDS - began)) s"
    grep -h warning "$work/log" | sed "s/^/NOTE $cmd: /"
    return 0
}

check() {  # name status-ours status-theirs
    if [ "$2" != 0 ] || [ "$3" != 0 ]; then
        echo "FAIL $1: corvel-xfer exit $2, lrzsz exit $3"
        sed 's/^/    /' "$work/log" | tail -5
        fail=1
        return 1
    fi
    return 0
}

# variant, lrzsz receiver, lrzsz sender, sizes. CRC and YMODEM take the block boundaries (an
# empty file, one byte, one 128-byte block, one more); 1K blocks the 1024 boundary and a larger
# file; the 8-bit sum shares every path but its check with CRC. About 2 s a run.
variants=("xmodem|rx|sx|0 129"
    "xmodem-crc|rx -c|sx|0 1 128 129"
    "xmodem-1k|rx -c|sx -k|1025 65536"
    "ymodem|rb|sb -k|0 129 1025 65536")
[ -n "$quick" ] && variants=("xmodem-crc|rx -c|sx|0 129" "ymodem|rb|sb -k|0 1025")
for entry in "${variants[@]}"; do
    IFS='|' read -r proto lrx lsx sizelist <<<"$entry"
    read -r -a sizes <<<"$sizelist"
    for size in "${sizes[@]}"; do
        rm -rf "$work/in" "$work/out"
        mkdir -p "$work/in" "$work/out"
        src=$work/in/f$size.bin
        make_file "$src" "$size"

        # corvel-xfer sends, lrzsz receives.
        if [ "$proto" = ymodem ]; then
            run "$work/out" "$lrx -q -y" send "$src" --protocol "$proto"
        else
            run "$work/out" "$lrx -q -y got.bin" send "$src" --protocol "$proto"
        fi
        if check "$proto send $size" $ours $st; then
            if [ "$proto" = ymodem ]; then
                cmp -s "$src" "$work/out/f$size.bin" || { echo "FAIL $proto send $size: differs"; fail=1; }
            else
                padded_same "$src" "$work/out/got.bin" || { echo "FAIL $proto send $size: differs"; fail=1; }
            fi
        fi

        # lrzsz sends, corvel-xfer receives.
        rm -rf "$work/out"
        mkdir -p "$work/out"
        got=$work/out/got.bin
        if [ "$proto" = ymodem ]; then
            got=$work/out/f$size.bin
            run "$work/in" "$lsx -q f$size.bin" receive --dir "$work/out" --protocol "$proto"
        else
            run "$work/in" "$lsx -q f$size.bin" receive "$got" --strip-padding --protocol "$proto"
        fi
        if check "$proto receive $size" $ours $st; then
            cmp -s "$src" "$got" || { echo "FAIL $proto receive $size: differs"; fail=1; }
        fi
    done
done

# A YMODEM batch each way, with a name that has a blank in it.
rm -rf "$work/in" "$work/out"
mkdir -p "$work/in" "$work/out"
make_file "$work/in/one.bin" 5000
make_file "$work/in/two words.txt" 0
make_file "$work/in/three.bin" 3000
run "$work/out" "rb -q -y" send "$work/in/one.bin" "$work/in/two words.txt" "$work/in/three.bin" \
    --protocol ymodem
if check "ymodem batch send" $ours $st; then
    diff -r "$work/in" "$work/out" >/dev/null || { echo "FAIL ymodem batch send: differs"; fail=1; }
fi
rm -rf "$work/out"
mkdir -p "$work/out"
run "$work/in" "sb -k -q one.bin 'two words.txt' three.bin" receive --dir "$work/out" --protocol ymodem
if check "ymodem batch receive" $ours $st; then
    diff -r "$work/in" "$work/out" >/dev/null || { echo "FAIL ymodem batch receive: differs"; fail=1; }
    # The sender's modification time came along.
    [ "$(stat -c %Y "$work/in/three.bin")" = "$(stat -c %Y "$work/out/three.bin")" ] ||
        { echo "FAIL ymodem batch receive: time not kept"; fail=1; }
fi

[ "$fail" = 0 ] && echo "corvel-xfer and lrzsz agree on every variant, size and direction"
exit $fail
