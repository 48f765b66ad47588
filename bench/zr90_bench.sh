#!/usr/bin/env bash
# zr90 through the simulated card on loopback:
#   1. get of all parameters on axis 0, against a loop of one parmpeek per parameter;
#   2. get of 10 parameters on all 8 axes, against the bare UDP exchanges it sends
#      (udp_replay.cpp replays the very datagrams of zr90's own wire trace);
#   3. watch of 4 parameters: samples per second at --interval 0, and the CPU the
#      tool uses while it waits between samples at --interval 100.
#
#   bench/zr90_bench.sh BUILD_DIR [RUNS]
set -euo pipefail

BUILD=$(cd "${1:?usage: zr90_bench.sh BUILD_DIR [RUNS]}" && pwd)
RUNS=${2:-10}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
source "$HERE/common.sh"
need_programs parmpeek zr90 zr90sim
c++ -O2 -std=c++17 -o "$WORK/udp_replay" "$HERE/udp_replay.cpp"

start_card
ALL=$("$BUILD/zr90" list | awk '{ print $1 }')
COUNT=$(echo "$ALL" | wc -w)
TEN="kqp kqi kdp kdi pwm iu iv iw busv temperature"

# 1. All parameters on axis 0: zr90 once, against parmpeek once per parameter.
for _ in $(seq "$RUNS"); do
  run_ms card_env "$BUILD/zr90" -q get $ALL >> "$WORK/zr90_all.ms"
done
t0=$(now_ns)
for name in $ALL; do card_env "$BUILD/parmpeek" "$name" 0 > /dev/null; done
t1=$(now_ns)
LOOP_MS=$(calc "($t1 - $t0) / 1000000")
ALL_MS=$(median < "$WORK/zr90_all.ms")

# 2. Ten parameters on all eight axes, against the bare exchanges of its trace.
card_env "$BUILD/zr90" -q -a all get $TEN --trace "$WORK/trace" > /dev/null
# The channel start is polled 1 ms apart: the bare client pauses there too.
trace_requests "$WORK/trace" |
  awk '{ print } started && /^01 42 00 50/ { print "pause 1"; started = 0 } /^01 C2 00 50 .. 0F/ { started = 1 }' \
  > "$WORK/multi.requests"
EXCHANGES=$(grep -c '^01 42' "$WORK/multi.requests")
WRITES=$(grep -c '^01 C2' "$WORK/multi.requests")
for _ in $(seq "$RUNS"); do
  run_ms env -i INTERFACE=OSDEVICE PROTOCOL=DIRECT "$BUILD/zr90" -q get kqp >> "$WORK/start.ms"
  run_ms card_env "$BUILD/zr90" -q -a all get $TEN >> "$WORK/multi.ms"
  "$WORK/udp_replay" "$ADDRESS" 27181 "$WORK/multi.requests" 1 | awk '{ print $1 * 1000 }' >> "$WORK/bare.ms"
done
START_MS=$(median < "$WORK/start.ms")
MULTI_MS=$(calc "$(median < "$WORK/multi.ms") - $START_MS")
BARE_MS=$(median < "$WORK/bare.ms")

# 3. watch: rate at --interval 0 and CPU while waiting at --interval 100.
t0=$(now_ns)
card_env "$BUILD/zr90" -q watch kqp pwm iu iv --interval 0 --count 2000 > "$WORK/watch0.out"
t1=$(now_ns)
SAMPLES=$(($(wc -l < "$WORK/watch0.out") - 1))
RATE=$(calc "$SAMPLES / (($t1 - $t0) / 1000000000)" 0)
/usr/bin/time -f "%U %S %e" -o "$WORK/watch100.time" \
  env -i PATH="$PATH" INTERFACE=EZAL16 IPADDR="$ADDRESS" PROTOCOL=SSZAL BAUDRATE=2500000 \
  "$BUILD/zr90" -q watch kqp pwm iu iv --interval 100 --count 50 > /dev/null
read -r USER_S SYS_S ELAPSED_S < "$WORK/watch100.time"

echo "zr90 through zr90sim card on loopback (medians of $RUNS runs)"
echo
echo "All $COUNT parameters on axis 0:"
echo "  zr90 get (one run)              $ALL_MS ms"
echo "  parmpeek, one run per parameter $LOOP_MS ms"
echo "  speed-up                        $(calc "$LOOP_MS / $ALL_MS" 1) x"
echo
echo "10 parameters on all 8 axes ($EXCHANGES read exchanges, $WRITES writes):"
echo "  zr90 get, minus process start   $MULTI_MS ms (process start $START_MS ms)"
echo "  bare UDP exchanges              $BARE_MS ms"
echo "  ratio                           $(calc "$MULTI_MS / $BARE_MS" 2)"
echo
echo "watch of 4 parameters:"
echo "  --interval 0                    $RATE samples/s"
echo "  --interval 100, 50 samples      CPU ${USER_S}s user + ${SYS_S}s system in ${ELAPSED_S}s"
