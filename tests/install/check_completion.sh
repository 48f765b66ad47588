#!/usr/bin/env bash
# Tab completion as a user gets it: bash-completion loads the installed file by the
# command's name, and the words offered at each position are the ones the program
# takes there.
#   check_completion.sh BUILD_DIR
# Exit 77 (skipped) when bash-completion is not installed.
set -euo pipefail
build=$1
loader=/usr/share/bash-completion/bash_completion
[ -r "$loader" ] || { echo "bash-completion is not installed: skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null

# A fresh interactive-like shell: nothing loaded but bash-completion itself, which
# finds the programs' files through XDG_DATA_DIRS as it does for /usr/local.
env -i HOME="$work" PATH="$work/prefix/bin:/usr/bin:/bin" XDG_DATA_DIRS="$work/prefix/share:/usr/share" \
  bash --norc --noprofile -O extglob -O progcomp <<'SCRIPT'
set -u
. /usr/share/bash-completion/bash_completion
failures=0
# complete LINE: the words offered when Tab is pressed at the end of LINE.
complete_line() {
  local line=$1 registration function
  COMP_LINE=$line COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  registration=$(complete -p "${COMP_WORDS[0]}" 2>/dev/null) || { _completion_loader "${COMP_WORDS[0]}"; registration=$(complete -p "${COMP_WORDS[0]}" 2>/dev/null); }
  function=${registration##*-F }
  function=${function%% *}
  COMPREPLY=()
  "$function" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}
expect() {
  local got
  got=$(complete_line "$1")
  if [ "$got" != "$2" ]; then
    echo "FAIL: '$1<TAB>' offers '$got', expected '$2'"
    failures=$((failures + 1))
  fi
}
expect "parmpeek k" "kdi kdil kdp kqi kqil kqp"
expect "parmpeek KQ" "kqi kqil kqp"
expect "parmpeek nucycle" "NUcycleskips"
expect "parmpeek nvkqi" "nvkqi nvkqihi nvkqil nvkqilo"
expect "parmpeek kqp+" ""
expect "parmpeek --v" "--version"
expect "parmpeek kqp " "0 1 2 3 4 5 6 7 a h q r"
expect "parmpeek kqp 2 " "a h q r"
expect "parmpeek kqp 2 h r a " ""
expect "parmpeek --help " ""
expect "parmpoke nvk" "nvkdi nvkdihi nvkdil nvkdilo nvkdp nvkqi nvkqihi nvkqil nvkqilo nvkqp"
expect "parmpoke kqp " ""
expect "parmpoke kqp 300 " "0 1 2 3 4 5 6 7 h q r"
expect "parmpoke kqp 300 2 " "h q r"
expect "zr90sim " "--help --version -V -h card drive"
expect "zr90sim drive --p" "--protocol"
expect "zr90sim drive --protocol " "hex zal"
expect "zr90sim card --crc " "either off on"
expect "zr90sim card --fault idrom-w" "idrom-wideio"
expect "zr90sim drive --fault silent" "silent silent-after="
expect "zr90 " "completion console diff faults get help info links list plot restore save scan set watch"
expect "zr90 --json g" "get"
expect "zr90 -a " "0 0-3 0-7 1 2 3 4 5 6 7 all"
expect "zr90 -a 0," "0,0 0,1 0,2 0,3 0,4 0,5 0,6 0,7"
expect "zr90 get KQ" "kqi kqil kqp"
expect "zr90 console --pl" "--plot"
expect "zr90 console busv kq" "kqi kqil kqp"
expect "zr90 set kq" "kqi= kqil= kqp="
expect "zr90 restore --from " "0 1 2 3 4 5 6 7"
expect "zr90 completion " "bash powershell"
expect "zr90 scan --s" "--save"
expect "zr90 i" "info"
touch "$HOME/line.json" "$HOME/lime.json"
for command in save diff restore plot; do expect "zr90 $command $HOME/li" "$HOME/lime.json $HOME/line.json"; done
expect "zr90 --trace $HOME/lin" "$HOME/line.json"
# Every command zr90's help names, and every option of each command's help, is offered.
commands=$(zr90 --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }' | sort | tr '\n' ' ' | sed 's/ $//')
expect "zr90 " "$commands"
all_options=""
for command in $commands; do
  offered=" $(complete_line "zr90 $command -") "
  for option in $(zr90 help "$command" | grep -o -- '^ *-[-a-zA-Z,]*' | tr ',' ' '); do
    all_options+=" $option"
    if [[ $offered != *" $option "* ]]; then
      echo "FAIL: 'zr90 $command -<TAB>' does not offer $option"
      failures=$((failures + 1))
    fi
  done
done
# The PowerShell script names the same commands and options (no PowerShell here to run it).
powershell_script=$(zr90 completion powershell)
for word in $commands $all_options $(zr90 --help | grep -o -- '^ *-[-a-zA-Z,]*' | tr ',' ' '); do
  [[ $powershell_script == *"'$word'"* ]] || { echo "FAIL: the PowerShell completion lacks '$word'"; failures=$((failures + 1)); }
done
for program in zr90 parmpeek parmpoke; do
  [[ $powershell_script == *"-CommandName"*"$program, $program.exe"* ]] ||
    { echo "FAIL: the PowerShell completion registers no completer for $program"; failures=$((failures + 1)); }
done
# Every option the simulator's help names is offered.
for mode in drive card; do
  offered=" $(complete_line "zr90sim $mode --") "
  for option in $(zr90sim "$mode" --help | grep -o -- '^ *--[a-z-]*' | sort -u); do
    if [[ $offered != *" $option "* ]]; then
      echo "FAIL: 'zr90sim $mode --<TAB>' does not offer $option"
      failures=$((failures + 1))
    fi
  done
done
exit $((failures > 0))
SCRIPT
echo "completion: ok"
