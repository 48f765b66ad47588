#!/usr/bin/env bash
# Runs parmpeek, parmpoke and zr90 against zr90sim, no hardware needed.
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
zr90="$build/zr90"
for program in "$sim" "$peek" "$poke" "$zr90"; do
  [ -x "$program" ] || { echo "$program not found: build first (cmake -S . -B $build && cmake --build $build)"; exit 2; }
done

# The simulator's output comes through a pipe read with a time limit: "ready <where>"
# once it serves, "idle" when asked (SIGUSR1) once it has taken in all sent to it.
read_sim_line() {
  IFS= read -r -t 30 line <&"${SIM[0]}" || { echo "zr90sim did not answer" >&2; exit 2; }
}
start_sim() {
  coproc SIM { exec "$sim" "$@" 2>&1; }
  sim_pid=$SIM_PID
  line=
  while [[ $line != "ready "* ]]; do
    IFS= read -r -t 30 line <&"${SIM[0]}" || { echo "zr90sim did not start: $line" >&2; exit 2; }
  done
  where=${line#ready }
}
# A write gets no answer, so a tool may end before the simulator has read it; the
# next tool's flush of a pseudo-terminal would then drop it.
settle() {
  kill -USR1 "$sim_pid"
  line=
  while [ "$line" != idle ]; do read_sim_line; done
}
work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-demo.XXXXXX")
trap 'kill "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT


if [ "$mode" = serial ]; then
  start_sim drive --protocol zal
  environment=(INTERFACE=OSDEVICE PROTOCOL=ZAL COMPORT=COM1 ZR90_COM1="$where" BAUDRATE=115200 BAUDRATEMUL=1)
  axis=()
  axes=0
  echo "Simulated drive on $where (COM1)"
else
  start_sim card --udp 127.0.0.2
  environment=(INTERFACE=EZAL16 PROTOCOL=SSZAL IPADDR="$where" BAUDRATE=2500000)
  axis=(2)
  axes=all
  echo "Simulated card on $where, drive on channel 2"
fi
# Shown, so that the steps below can be copied and run by hand against a simulator.
export "${environment[@]}"
echo "\$ export ${environment[*]}"
echo

# Each step as it can be typed; the first that fails ends the demo with its code.
run() {
  settle
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
# The workbench: every axis in one run, the fault words decoded, the settings kept
# in a file and compared with the drives.
run "$zr90" -q -a "$axes" get kqp
run "$zr90" -q -a "${axis[@]:-0}" faults
run "$zr90" -q -a "$axes" save "$work/drives.json"
run "$zr90" -q -a "$axes" diff "$work/drives.json"
