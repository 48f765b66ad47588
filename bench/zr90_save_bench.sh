#!/usr/bin/env bash
# zr90 save --axis all through the simulated card on loopback, against the loop a
# user would otherwise write (one parmpeek per EEPROM setting per axis), and the
# card exchanges the save makes against the fewest its accesses need.
#
#   bench/zr90_save_bench.sh BUILD_DIR [RUNS]
set -euo pipefail

BUILD=$(cd "${1:?usage: zr90_save_bench.sh BUILD_DIR [RUNS]}" && pwd)
RUNS=${2:-10}
WORK=$(mktemp -d)
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/common.sh"
need_programs parmpeek zr90 zr90sim

requests() { grep -c ' > ' "$1"; }

start_card
SETTINGS=$("$BUILD/zr90" list 'nv*' | awk '$1 != "nvinvalid" { print $1 }')
COUNT=$(echo "$SETTINGS" | wc -w)

for _ in $(seq "$RUNS"); do
  run_ms card_env "$BUILD/zr90" -q -a all save "$WORK/all.json" >> "$WORK/save.ms"
done
SAVE_MS=$(median < "$WORK/save.ms")
t0=$(now_ns)
for axis in 0 1 2 3 4 5 6 7; do
  for name in $SETTINGS; do card_env "$BUILD/parmpeek" "$name" "$axis" > /dev/null; done
done
t1=$(now_ns)
LOOP_MS=$(calc "($t1 - $t0) / 1000000")

# Exchanges: the save's requests, those that bring the link up (everything before
# the first non-volatile flag write), and the settings' accesses after them.
card_env "$BUILD/zr90" -q -a all save "$WORK/traced.json" --trace "$WORK/save.trace"
SAVE_X=$(requests "$WORK/save.trace")
OPEN_X=$(awk '/ > 01 C2 .. 52 00 00 00 EC$/ { exit } / > / { n++ } END { print n }' "$WORK/save.trace")
ACCESS_X=$((SAVE_X - OPEN_X))
# The fewest for one step on N channels side by side: load each CSR (and each data
# port for the flag writes), one run command, one poll that finds it done, the
# failure-bit read, each data read (reads), each CSR clear: 3N + 3. zr90 sends one
# more: the library also checks that the module is idle before each run command.
# The steps: the flag set on all axes, every setting read on all, the flag cleared.
AXES=8
FEWEST=$(((COUNT + 2) * (3 * AXES + 3)))

echo "zr90 save --axis all through zr90sim card on loopback (medians of $RUNS runs)"
echo
echo "$COUNT EEPROM settings on each of 8 axes:"
echo "  zr90 save -a all (one run)            $SAVE_MS ms"
echo "  parmpeek, one run per setting per axis $LOOP_MS ms ($((COUNT * 8)) runs)"
echo "  speed-up                              $(calc "$LOOP_MS / $SAVE_MS" 0) x"
echo
echo "card exchanges (datagrams sent):"
echo "  whole save                            $SAVE_X"
echo "  link set-up                           $OPEN_X"
echo "  the settings' accesses                $ACCESS_X"
echo "  fewest those accesses need            $FEWEST"
