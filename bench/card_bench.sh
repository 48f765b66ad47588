#!/usr/bin/env bash
# The card path against its physical limit: the tools through the simulated card on
# loopback, beside the same EZAL16 request/reply exchanges made bare (udp_replay.cpp
# replays the very datagrams the tool sent). A ratio near 1 means the tools add
# nothing measurable to the exchanges the protocol needs.
#
#   bench/card_bench.sh BUILD_DIR [RUNS] [SECONDS]
#     RUNS     tool runs timed for the initialisation (default 40)
#     SECONDS  length of each repeat-mode measurement (default 2)
set -euo pipefail

BUILD=$(cd "${1:?usage: card_bench.sh BUILD_DIR [RUNS] [SECONDS]}" && pwd)
RUNS=${2:-40}
SECONDS_REPEAT=${3:-2}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
source "$HERE/common.sh"
need_programs parmpeek zr90sim
c++ -O2 -std=c++17 -o "$WORK/udp_replay" "$HERE/udp_replay.cpp"

# 1. The datagrams of one run and of one loop pass, from a traced card.
start_card --trace "$WORK/trace"
card_env "$BUILD/parmpeek" pwm 2 > /dev/null
stop_card
# The protocol pauses 1 ms after each poll of a channel start: the bare client
# does the same.
trace_requests "$WORK/trace" |
  awk '{ print } started && /^01 42 00 50/ { print "pause 1"; started = 0 } /^01 C2 00 50 .. 0F/ { started = 1 }' \
  > "$WORK/run.requests"
tail -n 7 "$WORK/run.requests" > "$WORK/word.requests"
{ cat "$WORK/word.requests"; echo "pause 1"; } > "$WORK/paused.requests"
READS=$(grep -c '^01 42' "$WORK/run.requests")
WRITES=$(grep -c '^01 C2' "$WORK/run.requests")

start_card

# 2. Initialisation: a whole run (set-up and one word read) minus process start.
# The three measurements alternate and the medians count, so that other load on
# the machine weighs on all three alike.
for _ in $(seq "$RUNS"); do
  run_ms env -i INTERFACE=OSDEVICE PROTOCOL=DIRECT "$BUILD/parmpeek" pwm >> "$WORK/direct.ms"
  run_ms card_env "$BUILD/parmpeek" pwm 2 >> "$WORK/card.ms"
  "$WORK/udp_replay" "$ADDRESS" 27181 "$WORK/run.requests" 1 | awk '{ print $1 * 1000 }' >> "$WORK/bare.ms"
done
DIRECT_MS=$(median < "$WORK/direct.ms")
CARD_MS=$(median < "$WORK/card.ms")
BARE_INIT_MS=$(median < "$WORK/bare.ms")
INIT_MS=$(calc "$CARD_MS - $DIRECT_MS")

# 3. Repeat mode: word reads for SECONDS, ended by a key on standard input, then
# the same number of bare loop passes; three rounds, the medians count.
repeat_rate() {  # $1 parameter; prints "reads seconds"
  local t0 t1 lines
  t0=$(now_ns)
  (sleep "$SECONDS_REPEAT"; printf x) | card_env "$BUILD/parmpeek" "$1" 2 r > "$WORK/repeat.out"
  t1=$(now_ns)
  lines=$(grep -c '^Data' "$WORK/repeat.out")
  echo "$lines $(calc "($t1 - $t0) / 1000000000 - $CARD_MS / 1000" 6)"
}
for _ in 1 2 3; do
  read -r reads seconds < <(repeat_rate pwm)
  bare=$("$WORK/udp_replay" "$ADDRESS" 27181 "$WORK/word.requests" "$reads")
  calc "$seconds / $reads * 1000000" >> "$WORK/word.us"
  calc "$bare / $reads * 1000000" >> "$WORK/bareword.us"
done
WORD_US=$(median < "$WORK/word.us")
BARE_WORD_US=$(median < "$WORK/bareword.us")
read -r PAUSED_READS PAUSED_S < <(repeat_rate kqp)
BARE_PAUSED_S=$("$WORK/udp_replay" "$ADDRESS" 27181 "$WORK/paused.requests" "$PAUSED_READS")

ratio() { calc "$1 / $2" 2; }
rate() { calc "$1 / $2" 0; }

echo "Card path through zr90sim card on loopback (medians of $RUNS runs and of 3 x ${SECONDS_REPEAT} s of repeat mode)"
echo
echo "Initialisation and one word read (parmpeek pwm 2):"
echo "  card traffic per run        $READS read exchanges, $WRITES writes"
echo "  process start (DIRECT run)  $DIRECT_MS ms"
echo "  tool, minus process start   $INIT_MS ms"
echo "  bare UDP exchanges          $BARE_INIT_MS ms (with the 1 ms pause of the channel start)"
echo "  ratio                       $(ratio "$INIT_MS" "$BARE_INIT_MS")"
echo
echo "Word read in repeat mode (parmpeek pwm 2 r; 4 read exchanges and 3 writes a read):"
echo "  tool                        $(rate 1000000 "$WORD_US") reads/s ($WORD_US us a read)"
echo "  bare UDP exchanges          $(rate 1000000 "$BARE_WORD_US") reads/s ($BARE_WORD_US us a read)"
echo "  ratio (time per read)       $(ratio "$WORD_US" "$BARE_WORD_US")"
echo
echo "Word read with the 1 ms pause after each read of TYPE_UINT (parmpeek kqp 2 r, one round):"
echo "  tool                        $(rate "$PAUSED_READS" "$PAUSED_S") reads/s"
echo "  bare UDP exchanges + pause  $(rate "$PAUSED_READS" "$BARE_PAUSED_S") reads/s"
echo "  ratio (time per read)       $(ratio "$PAUSED_S" "$BARE_PAUSED_S")"
