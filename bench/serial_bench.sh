#!/bin/bash
# Serial-link figures against zr90sim drive on a pseudo-terminal:
#   - word reads per second in repeat mode, over ZAL and over the text protocol;
#   - CPU time of a run that waits 1000 ms for a drive that never answers.
# Usage: bench/serial_bench.sh BUILD_DIR [SECONDS]   (builds nothing)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [SECONDS]}
seconds=${2:-3}
build=$(cd "$build" && pwd)
for program in zr90sim parmpeek; do
  [[ -x $build/$program ]] || { echo "$build/$program is missing: build it first" >&2; exit 2; }
done

work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Starts the simulator with the given options and sets $pty to its line.
start_sim() {
  "$build/zr90sim" drive "$@" >"$work/sim.out" &
  sim_pid=$!
  for _ in $(seq 100); do
    if read -r word pty <"$work/sim.out" 2>/dev/null && [[ $word == ready ]]; then return; fi
    sleep 0.05
  done
  echo "zr90sim did not get ready" >&2
  exit 2
}

stop_sim() {
  kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}

run_env() {
  env -i PATH="$PATH" INTERFACE=OSDEVICE PROTOCOL="$1" COMPORT=COM1 ZR90_COM1="$pty" \
    BAUDRATE=115200 BAUDRATEMUL=1 "${@:2}"
}

# Reads a parameter in repeat mode for $seconds and prints the rate. A byte on
# standard input ends the loop, as a key would. Unsigned words (kqp) wait 1 ms after
# each line; signed words (pwm) do not, so their rate is the link's own.
reads_per_second() {
  local protocol=$1 label=$2 name=${3:-kqp}
  local fifo=$work/stdin
  rm -f "$fifo" && mkfifo "$fifo"
  run_env "$protocol" "$build/parmpeek" "$name" r <"$fifo" >"$work/peek.out" &
  local peek_pid=$!
  exec 3>"$fifo"
  sleep 0.5  # past start-up and synchronisation
  local before after
  before=$(grep -c '^Data' "$work/peek.out" || true)
  sleep "$seconds"
  after=$(grep -c '^Data' "$work/peek.out" || true)
  echo q >&3
  exec 3>&-
  wait "$peek_pid" || true
  local reads=$((after - before))
  awk -v label="$label" -v n="$reads" -v s="$seconds" 'BEGIN {
    printf "%-34s %8d reads in %ss = %8.1f reads/s (%.3f ms per read)\n", label, n, s, n / s, n ? s * 1000 / n : 0 }' 
}

echo "zr90sim drive on $(uname -sr), $(nproc) CPUs"

start_sim --protocol zal
reads_per_second ZAL "ZAL word read (parmpeek kqp r)"
reads_per_second ZAL "ZAL word read (parmpeek pwm r)" pwm
stop_sim

start_sim --protocol hex
reads_per_second HEX "text word read (parmpeek kqp r)"
reads_per_second HEX "text word read (parmpeek pwm r)" pwm
stop_sim

# A text-protocol link check against a silent drive: one 1000 ms wait, then the
# failure. Its CPU time shows whether the wait blocks in the OS.
start_sim --protocol hex --fault silent
TIMEFORMAT='%R %U %S'
{ time run_env HEX "$build/parmpeek" kqp >"$work/silent.out"; } 2>"$work/time.out" || true
stop_sim
read -r real user sys <"$work/time.out"
awk -v r="$real" -v u="$user" -v s="$sys" 'BEGIN {
  printf "%-34s %s s elapsed, CPU %.1f ms (user %s s, sys %s s)\n", "silent drive, HEX sync (1000 ms)", r, (u + s) * 1000, u, s }' 
printf '%-34s %s\n' "  its output" "$(tr '\n' ' ' <"$work/silent.out")"
