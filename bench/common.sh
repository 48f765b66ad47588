# What the card benchmarks share; sourced after BUILD and WORK are set.
# A simulated card on a loopback address of its own (ADDRESS, CARD_PID), the tools'
# environment for it, timing and arithmetic helpers.

CARD_PID=""

cleanup() {
  if [[ -n "$CARD_PID" ]]; then kill "$CARD_PID" 2>/dev/null || true; wait "$CARD_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# The programs a benchmark needs, built.
need_programs() {
  local program
  for program in "$@"; do
    [[ -x "$BUILD/$program" ]] || { echo "no $BUILD/$program: build first" >&2; exit 2; }
  done
}

now_ns() { date +%s%N; }
# Arithmetic on decimals: awk is on every machine, bc is not.
calc() { awk "BEGIN { printf \"%.${2:-3}f\\n\", $1 }"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

stop_card() {
  kill "$CARD_PID" 2>/dev/null || true
  wait "$CARD_PID" 2>/dev/null || true
  CARD_PID=""
}

# Starts zr90sim card on a free loopback address with the given options; sets
# ADDRESS and CARD_PID.
start_card() {
  for _ in 1 2 3 4 5; do
    ADDRESS=127.0.$((RANDOM % 200 + 20)).$((RANDOM % 200 + 20))
    "$BUILD/zr90sim" card --udp "$ADDRESS" "$@" > "$WORK/sim.out" 2>/dev/null &
    CARD_PID=$!
    for _ in $(seq 100); do
      grep -q '^ready ' "$WORK/sim.out" && return 0
      kill -0 "$CARD_PID" 2>/dev/null || break
      sleep 0.05
    done
    stop_card
  done
  echo "zr90sim card would not start" >&2
  exit 2
}

card_env() { env -i PATH="$PATH" INTERFACE=EZAL16 IPADDR="$ADDRESS" PROTOCOL=SSZAL BAUDRATE=2500000 "$@"; }

# Milliseconds one run of a command takes.
run_ms() {
  local t0 t1
  t0=$(now_ns)
  "$@" > /dev/null 2>&1
  t1=$(now_ns)
  calc "($t1 - $t0) / 1000000"
}

# The requests of a wire trace (the tools' or the simulator's), bytes only.
trace_requests() { awk '$2 == ">" { $1 = ""; $2 = ""; sub(/^  /, ""); print }' "$1"; }
