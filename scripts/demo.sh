#!/usr/bin/env bash
# Runs parmpeek and parmpoke against zr90sim, no hardware needed.
#   scripts/demo.sh [BUILD_DIR] [card|serial]
#   card   (default): a simulated FPGA card on 127.0.0.2, reached over UDP (EZAL16),
#                     with the drive on channel 2
#   serial: a simulated drive on a pseudo-terminal, reached as COM1 over ZAL
set -euo pipefail
build=${1:-build}
mode=${2:-card}
sim="$build/zr90sim"
peek="$build/parmpeek"
poke="$build/parmpoke"
for program in "$sim" "$peek" "$poke"; do
  [ -x "$program" ] || { echo "$program not found: build first (cmake -S . -B $build && cmake --build $build)"; exit 2; }
done

log=$(mktemp)
trap 'kill "$sim_pid" 2>/dev/null || true; rm -f "$log"' EXIT

# The simulator prints "ready <where>" once it serves; a busy machine may take a
# while, a simulator that cannot start says why at once.
wait_ready() {
  for _ in $(seq 600); do
    line=$(grep -m1 '^ready ' "$log" || true)
    [ -n "$line" ] && { echo "${line#ready }"; return; }
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "zr90sim did not start:" >&2; cat "$log" >&2; exit 2
}

if [ "$mode" = serial ]; then
  "$sim" drive --protocol zal >"$log" &
  sim_pid=$!
  pty=$(wait_ready)
  environment=(INTERFACE=OSDEVICE PROTOCOL=ZAL COMPORT=COM1 ZR90_COM1="$pty" BAUDRATE=115200 BAUDRATEMUL=1)
  axis=()
  echo "Simulated drive on $pty (COM1)"
else
  "$sim" card --udp 127.0.0.2 >"$log" &
  sim_pid=$!
  address=$(wait_ready)
  environment=(INTERFACE=EZAL16 PROTOCOL=SSZAL IPADDR="$address" BAUDRATE=2500000)
  axis=(2)
  echo "Simulated card on $address, drive on channel 2"
fi
# Shown, so that the steps below can be copied and run by hand against a simulator.
export "${environment[@]}"
echo "\$ export ${environment[*]}"
echo

# Each step as it can be typed; the first that fails ends the demo with its code.
run() {
  echo "\$ $*"
  local status=0
  "$@" || status=$?
  if [ "$status" != 0 ]; then
    echo "demo: this step failed with exit code $status" >&2
    exit "$status"
  fi
  echo
}
run "$peek" kqp "${axis[@]}"
run "$poke" kqp 1234 "${axis[@]}"
run "$peek" kqp "${axis[@]}" a
run "$peek" biggercookie "${axis[@]}" h
run "$peek" nvcookie "${axis[@]}" h
