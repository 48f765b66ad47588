#!/usr/bin/env bash
# What drawing zr90 watch on a terminal costs, against the same watch as CSV into
# /dev/null, through the simulated card on loopback and on the dry-run link:
#   1. samples per second at --interval 0 (the table is drawn at most 20 times a second);
#   2. the CPU the tool uses at --interval 100 over 50 samples.
# The terminal is a pseudo-terminal whose output a reader takes and drops.
#
# Medians of RUNS runs each, the two kinds taking turns, as the machine's load varies.
#
#   bench/watch_screen_bench.sh BUILD_DIR [SAMPLES] [RUNS]
set -euo pipefail

BUILD=$(cd "${1:?usage: watch_screen_bench.sh BUILD_DIR [SAMPLES] [RUNS]}" && pwd)
SAMPLES=${2:-5000}
RUNS=${3:-5}
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d)
source "$HERE/common.sh"
need_programs zr90 zr90sim
command -v python3 > /dev/null || { echo "python3 is needed for the pseudo-terminal" >&2; exit 2; }

# on_terminal|to_null COMMAND...: "SECONDS CPU_SECONDS" of one run, standard output a
# pseudo-terminal or /dev/null.
cat > "$WORK/run.py" << 'PY'
import os, pty, sys, time
where, command = sys.argv[1], sys.argv[2:]
start = time.monotonic()
if where == "to_null":
    pid = os.fork()
    if pid == 0:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        os.execv(command[0], command)
else:
    pid, master = pty.fork()
    if pid == 0:
        os.execv(command[0], command)
    while True:
        try:
            if not os.read(master, 65536):
                break
        except OSError:
            break
_, status, usage = os.wait4(pid, 0)
elapsed = time.monotonic() - start
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit("the run failed: " + " ".join(command))
print("%.3f %.3f" % (elapsed, usage.ru_utime + usage.ru_stime))
PY
measure() { python3 "$WORK/run.py" "$@"; }

start_card
# The environment goes through env(1): the runner keeps it.
CARD="env INTERFACE=EZAL16 IPADDR=$ADDRESS PROTOCOL=SSZAL BAUDRATE=2500000"
DRY="env INTERFACE=OSDEVICE PROTOCOL=DIRECT"
WATCH="$BUILD/zr90 -q watch kqp pwm iu iv"

# report NAME LINK SAMPLES
report() {
  local name=$1 link=$2 samples=$3 seconds cpu csv_rate table_rate csv100 table100
  local -a env_run=("$(command -v env)" ${link#env })
  for _ in $(seq "$RUNS"); do
    read -r seconds _ < <(measure to_null "${env_run[@]}" $WATCH --csv --interval 0 --count "$samples")
    calc "$samples / $seconds" 0 >> "$WORK/$name.csv0"
    read -r seconds _ < <(measure on_terminal "${env_run[@]}" $WATCH --interval 0 --count "$samples")
    calc "$samples / $seconds" 0 >> "$WORK/$name.table0"
  done
  for _ in $(seq 3); do
    read -r _ cpu < <(measure to_null "${env_run[@]}" $WATCH --csv --interval 100 --count 50)
    echo "$cpu" >> "$WORK/$name.csv100"
    read -r _ cpu < <(measure on_terminal "${env_run[@]}" $WATCH --interval 100 --count 50)
    echo "$cpu" >> "$WORK/$name.table100"
  done
  csv_rate=$(median < "$WORK/$name.csv0")
  table_rate=$(median < "$WORK/$name.table0")
  csv100=$(median < "$WORK/$name.csv100")
  table100=$(median < "$WORK/$name.table100")
  echo "  --interval 0, $samples samples   CSV to /dev/null $csv_rate/s, table on a terminal $table_rate/s ($(calc "100 * $table_rate / $csv_rate" 1) %)"
  echo "  --interval 100, 50 samples (5 s)  CPU: CSV ${csv100}s, table ${table100}s ($(calc "100 * $table100 / 5" 2) % of a core)"
}

echo "zr90 watch of 4 parameters, drawn on a pseudo-terminal or written as CSV to /dev/null"
echo
echo "through zr90sim card on loopback:"
report card "$CARD" "$SAMPLES"
echo "on the dry-run link (no link cost: the drawing alone):"
report dry "$DRY" $((SAMPLES * 40))
