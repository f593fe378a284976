#!/bin/sh
# Cross-checks metersim against mbpoll, an independent Modbus RTU master:
# reads the measured values and the system block, writes with functions 06
# and 16, and checks an exception reply.
# Usage: sim_mbpoll.sh <metersim> [mbpoll]
set -u

METERSIM=$1
MBPOLL=${2:-mbpoll}

if ! command -v "$MBPOLL" >/dev/null 2>&1; then
    echo "FAIL: mbpoll is not installed (Debian package mbpoll)"
    exit 1
fi

WORK=$(mktemp -d)
SIM_PID=
cleanup() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null
        wait "$SIM_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

FAILURES=0
fail() {
    echo "FAIL: $*"
    FAILURES=$((FAILURES + 1))
}

# Channel 1 at 25.5, channel 2 at -20.0, channel 8 at 12.3, channel 22 at
# the lowest word.
"$METERSIM" --freeze --link "$WORK/meter" --set-input 0=255 --set-input 1=-200 --set-input 7=123 \
    --set-input 21=-32768 \
    >"$WORK/out" 2>"$WORK/err" &
SIM_PID=$!

i=0
while [ ! -s "$WORK/out" ] && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
done
PORT=$(head -n 1 "$WORK/out")
case "$PORT" in
/dev/*) ;;
*)
    echo "FAIL: metersim printed no port: $(cat "$WORK/err")"
    exit 1
    ;;
esac
[ "$(readlink "$WORK/meter")" = "$PORT" ] || fail "link $WORK/meter does not point at $PORT"

# mbpoll with 0-based references, one poll, the instrument's line settings.
poll() {
    "$MBPOLL" -m rtu -b 115200 -P none -0 -1 -o 2 "$@"
}

# Prints "reference value" per register read, raw unsigned value.
registers() {
    poll "$@" | sed -n 's/^\[\([0-9]*\)\]:[[:space:]]*\([0-9]*\).*/\1 \2/p' | tr '\n' ' '
}

expect() {
    label=$1
    expected=$2
    shift 2
    actual=$(registers "$@")
    [ "$actual" = "$expected" ] || fail "$label: expected '$expected', got '$actual'"
}

# Measured values: 22 words; 0xFF38 = 65336 is -200, 0x8000 = 32768.
inputs=$(registers -t 3 -r 0 -c 22 "$PORT")
count=$(echo "$inputs" | wc -w)
[ "$count" -eq 44 ] || fail "input registers 0-21: got '$inputs'"
case "$inputs" in
"0 255 1 65336 "*"21 32768 ") ;;
*) fail "input registers 0-21: got '$inputs'" ;;
esac

expect "factory system block" "396 22 397 1 398 7 399 1 400 0 401 3 " -t 4 -r 396 -c 6 "$PORT"

# Function 06 through the link name, as the tool would open it.
poll -t 4 -r 397 "$WORK/meter" 5 >/dev/null || fail "write single 397"
# Function 16.
poll -t 4 -r 398 "$PORT" 3 2 >/dev/null || fail "write multiple 398-399"
expect "system block after writes" "396 22 397 5 398 3 399 2 400 0 401 3 " -t 4 -r 396 -c 6 "$PORT"

# With 8 channels, channels 9 and up read 0.
poll -t 4 -r 396 "$PORT" 8 >/dev/null || fail "write channel count"
expect "inputs 7-10 with 8 channels" "7 123 8 0 9 0 10 0 " -t 3 -r 7 -c 4 "$PORT"
expect "input 0 with 8 channels" "0 255 " -t 3 -r 0 -c 1 "$PORT"

# Register 402 does not exist.
if poll -t 4 -r 402 -c 1 "$PORT" >"$WORK/exception" 2>&1; then
    fail "reading 402 succeeded"
fi
grep -q "Illegal data address" "$WORK/exception" || fail "reading 402: $(cat "$WORK/exception")"

kill "$SIM_PID"
wait "$SIM_PID"
SIM_PID=
[ -e "$WORK/meter" ] && fail "metersim left its link behind"

if [ "$FAILURES" -ne 0 ]; then
    exit 1
fi
echo "PASS"
