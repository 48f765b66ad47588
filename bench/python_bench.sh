#!/usr/bin/env bash
# The zr90 Python package through the simulated card on loopback:
#   1. 1000 get calls of one parameter in one process on one link, against the bare
#      UDP exchanges those reads need (udp_replay.cpp replays the datagrams of one
#      read, taken from zr90's own wire trace, 1000 times);
#   2. the link's open and a get of every parameter, against zr90 get of the same
#      less the start of its process (a run with PROTOCOL=DIRECT).
#
#   bench/python_bench.sh BUILD_DIR [RUNS]
set -euo pipefail

BUILD=$(cd "${1:?usage: python_bench.sh BUILD_DIR [RUNS]}" && pwd)
RUNS=${2:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
source "$HERE/common.sh"
need_programs zr90 zr90sim
ls "$BUILD"/libzr90.so* >/dev/null 2>&1 || { echo "no $BUILD/libzr90.so: build first" >&2; exit 2; }
c++ -O2 -std=c++17 -o "$WORK/udp_replay" "$HERE/udp_replay.cpp"
export PYTHONPATH="$HERE/../python" LD_LIBRARY_PATH="$BUILD"

start_card
ALL=$("$BUILD/zr90" list | awk '{ print $1 }' | while read -r name; do
  card_env "$BUILD/zr90" -q get "$name" >/dev/null 2>&1 && echo "$name"; done)
COUNT=$(echo "$ALL" | wc -w)

# The datagrams of one read of kqp: those of two reads less those of one.
card_env "$BUILD/zr90" -q get kqp --trace "$WORK/one" > /dev/null
card_env "$BUILD/zr90" -q get kqp kqp --trace "$WORK/two" > /dev/null
ONE=$(trace_requests "$WORK/one" | wc -l)
trace_requests "$WORK/two" | tail -n +"$((ONE + 1))" | head -n "$(($(trace_requests "$WORK/two" | wc -l) - ONE))" \
  > "$WORK/read.requests"
PER_READ=$(wc -l < "$WORK/read.requests")

cat > "$WORK/bench.py" <<'PY'
import sys, time, zr90
names = sys.argv[2].split()
t0 = time.perf_counter()
link = zr90.Link(interface="EZAL16", ip=sys.argv[1], channels=1)  # axis 0 only, as zr90 -a 0 starts
link.get(names)
t1 = time.perf_counter()
for _ in range(1000):
    link.get("kqp")
t2 = time.perf_counter()
print(f"{(t2 - t1) * 1000:.3f} {(t1 - t0) * 1000:.3f}")
PY

for _ in $(seq "$RUNS"); do
  python3 "$WORK/bench.py" "$ADDRESS" "$ALL" >> "$WORK/python.ms"
  "$WORK/udp_replay" "$ADDRESS" 27181 "$WORK/read.requests" 1000 | awk '{ print $1 * 1000 }' >> "$WORK/bare.ms"
  run_ms env -i INTERFACE=OSDEVICE PROTOCOL=DIRECT "$BUILD/zr90" -q get kqp >> "$WORK/start.ms"
  run_ms card_env "$BUILD/zr90" -q get $ALL >> "$WORK/zr90_all.ms"
done
GETS_MS=$(awk '{ print $1 }' "$WORK/python.ms" | median)
PY_ALL_MS=$(awk '{ print $2 }' "$WORK/python.ms" | median)
BARE_MS=$(median < "$WORK/bare.ms")
ZR90_ALL_MS=$(calc "$(median < "$WORK/zr90_all.ms") - $(median < "$WORK/start.ms")")

echo "The zr90 Python package through zr90sim card on loopback (medians of $RUNS runs)"
echo
echo "1000 get calls of kqp on one link ($PER_READ datagrams each):"
echo "  Python, link.get(\"kqp\")        $GETS_MS ms"
echo "  bare UDP exchanges              $BARE_MS ms"
echo "  ratio                           $(calc "$GETS_MS / $BARE_MS" 2)"
echo
echo "open, then get of all $COUNT parameters on axis 0:"
echo "  Python, Link() and link.get([...])  $PY_ALL_MS ms"
echo "  zr90 get, less its process start    $ZR90_ALL_MS ms"
echo "  ratio                           $(calc "$PY_ALL_MS / $ZR90_ALL_MS" 2)"
