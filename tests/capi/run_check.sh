#!/usr/bin/env bash
# Runs a C program on libzr90 against a simulated card of its own, the card named
# to it by the environment as parmpeek takes it.
#   run_check.sh ZR90SIM PROGRAM [ARGUMENT...]
# Every argument "SCRATCH" is replaced by a fresh folder.
set -euo pipefail
sim=$1
shift
work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-capi.XXXXXX")
sim_pid=""
cleanup() {
  [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

for _ in 1 2 3 4 5; do
  address=127.$((RANDOM % 50 + 200)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 2))
  "$sim" card --udp "$address" >"$work/sim.out" 2>/dev/null &
  sim_pid=$!
  for _ in $(seq 200); do
    grep -q '^ready ' "$work/sim.out" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  grep -q '^ready ' "$work/sim.out" && break
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
done
[ -n "$sim_pid" ] || { echo "run_check.sh: zr90sim card did not start" >&2; exit 1; }

mkdir "$work/scratch"
arguments=()
for argument in "$@"; do
  [ "$argument" = SCRATCH ] && argument=$work/scratch
  arguments+=("$argument")
done
env INTERFACE=EZAL16 PROTOCOL=SSZAL IPADDR="$address" BAUDRATE=2500000 "${arguments[@]}"
