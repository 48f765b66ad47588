# bash completion for the ZR90 service tools. Installed once under the name of each
# program, so that bash-completion loads it for whichever is typed first.

# BEGIN PARAMETER NAMES
_zr90_parameter_names=(
  null dummy dummyhi pidena drivemode pwm phasek phasea kqp kqi kqil kdp kdi
  kdil iu ib iv ic iw ia busv rawtemperature temperature gain angle pwmres
  pwmfactor pwmlimit halfpwm upwm vpwm wpwm deadzone ialpha ibeta id iq vu vv
  vw ilimitmul fault clearfault oldclearfault faultmask startupstatus
  watchdogtime watchdogtimer qsetpoint dsetpoint busundervmin busundervmax
  busoverv brakeonv brakeoffv status cputype controltype swrevision sysclk
  bigcookie biggercookie hwrevision faulttimer trapaddress trapnumber
  trapcount trapstatus trapacc zero false one true minusone delayreg invtable
  valpha vbeta vd vq sinetable refsine refcosine iuoffset iwoffset bnderr
  mindspicpwm maxdspicpwm qset dset qintegral qintegralovf dintegral
  dintegralovf diqdt diddt bootstraptimer pwmrequest oldwatchdogtime oldiq
  oldid parktemp operand hibit refangle tempilimit tempislope maxmodulei
  maxcurrent deratei iloop capture captureflag oldcapture capturecounter
  pwmtemp propband bootstrapvalue boottimermul pidon integbound
  tlimitsetpointi test0 test1 test2 test3 test4 test5 test6 test7 test8 test9
  test10 test11 test12 logaincounter uvwfaultcounter NUcycleskips currentlimit
  pidenastate unitnumber blinktimer blink lastinclude nvmaxmodulei
  nvmaxcurrent nvbaudrate nvrembaudrate nvcrcenable nvkqp nvkqi nvkqilo
  nvkqihi nvkqil nvkdp nvkdi nvkdilo nvkdihi nvkdil nvqsetpoint nvdsetpoint
  nvdeadzone nvfaultmask nvbusundervmin nvbusundervmax nvbusoverv nvbrakeonv
  nvbrakeoffv nvpwmrate nvtempilimit nvtempislope nvintegbound nvcurrentlimit
  nvcookie nvinvalid nvFBS nvFGS nvFPOR
)
# END PARAMETER NAMES

_zr90_about_options="-h --help -V --version"

# Names match in any letter case, as the tools match them.
_zr90_complete_name() {
  local cur=$1 name
  COMPREPLY=()
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$_zr90_about_options" -- "$cur"))
    return
  fi
  [[ $cur == *+* ]] && return
  for name in "${_zr90_parameter_names[@]}"; do
    [[ ${name,,} == "${cur,,}"* ]] && COMPREPLY+=("$name")
  done
}

# parmpeek parm [axis] [q] [h] [r] [a]
# parmpoke parm data [axis] [q] [h] [r]
_zr90_parm() {
  local cur=${COMP_WORDS[COMP_CWORD]} first=${COMP_WORDS[1]-} flags axis_at
  COMPREPLY=()
  case ${COMP_WORDS[0]##*/} in
    parmpoke*) axis_at=3 flags="h r q" ;;
    *) axis_at=2 flags="h r a q" ;;
  esac
  if ((COMP_CWORD == 1)); then
    _zr90_complete_name "$cur"
    return
  fi
  [[ " $_zr90_about_options " == *" $first "* ]] && return
  ((COMP_CWORD < axis_at || COMP_CWORD > 5)) && return
  if ((COMP_CWORD == axis_at)); then
    COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 $flags" -- "$cur"))
  else
    COMPREPLY=($(compgen -W "$flags" -- "$cur"))
  fi
}

_zr90sim() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} options faults
  COMPREPLY=()
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "drive card $_zr90_about_options" -- "$cur"))
    return
  fi
  case ${COMP_WORDS[1]} in
    drive)
      options="--protocol --crc --link --trace --ram --eeprom --identity --silence --baud --model --seed --fault --help"
      faults="silent silent-after= partial badcrc echo badcookie babble nonvol-stuck shortid drop= delay=
        late= split= extra="
      ;;
    card)
      options="--udp --port --allow-remote --pty --link --crc --model --seed --trace --fault --help"
      faults="silent silent-after= short-reply stray badcookie nomodule twomodules zeromasks
        idrom-badmodptr idrom-badpinptr idrom-wideio idrom-zeroportwidth idrom-manyports
        busy busy-after= busy-slow= dup= late= notready nostart startfail runfail nodrive= nonvol-once nonvol-stuck"
      ;;
    *) return ;;
  esac
  case $prev in
    --protocol) COMPREPLY=($(compgen -W "hex zal" -- "$cur")) ;;
    --crc) COMPREPLY=($(compgen -W "off on either" -- "$cur")) ;;
    --model) COMPREPLY=($(compgen -W "static moving" -- "$cur")) ;;
    --link | --trace) COMPREPLY=($(compgen -f -- "$cur")) ;;
    --fault)
      COMPREPLY=($(compgen -W "$faults" -- "$cur"))
      # A fault that takes a number: no space after its '='.
      [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
      ;;
    --udp | --port | --ram | --eeprom | --identity | --silence | --baud | --seed) ;;
    *) COMPREPLY=($(compgen -W "$options" -- "$cur")) ;;
  esac
}

# Axis forms after -a: a single axis, all, or a list or range being typed.
_zr90_complete_axes() {
  local cur=$1 axis
  if [[ $cur == *[,-] ]]; then
    for axis in 0 1 2 3 4 5 6 7; do COMPREPLY+=("$cur$axis"); done
    return
  fi
  COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 all 0-3 0-7" -- "$cur"))
}

# The names of the links file, as zr90 itself reads them (--links-file given before is followed).
_zr90_complete_links() {
  local cur=$1 file="" i
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == --links-file ]] && file=${COMP_WORDS[i + 1]}
  done
  COMPREPLY=($(compgen -W "$(zr90 ${file:+--links-file "$file"} links 2>/dev/null | awk '{ print $1 }')" -- "$cur"))
}

# zr90 [options] command [arguments]
_zr90() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} command="" word i
  local commands="list get set watch console plot faults save diff restore links scan info completion help"
  local options="-a --axis --interface --protocol --port --baud --baud-mul --ip --trace --link --links-file
    --json --csv --value --hex -q --quiet -v --verbose -h --help -V --version"
  COMPREPLY=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    [[ " $commands " == *" $word "* ]] && { command=$word; break; }
  done
  case $prev in
    --interface) COMPREPLY=($(compgen -W "OSDEVICE EZAL16 OSZAL" -- "$cur")); return ;;
    --protocol) COMPREPLY=($(compgen -W "HEX ZAL SSZAL DIRECT" -- "$cur")); return ;;
    -a | --axis) _zr90_complete_axes "$cur"; return ;;
    --from) COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7" -- "$cur")); return ;;
    --trace | --links-file | --svg | -o | --output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --link) _zr90_complete_links "$cur"; return ;;
    --port | --baud | --baud-mul | --ip | --interval | --count | --save) return ;;
  esac
  if [[ $cur == -* ]]; then
    case $command in
      set) options="$options -y --yes --no-verify" ;;
      watch) options="$options --interval --count --plot --svg --timestamps" ;;
      console) options="$options --interval --plot" ;;
      plot) options="$options -o --output" ;;
      save) options="$options --ram" ;;
      restore) options="$options --from --dry-run --no-backup -y --yes" ;;
      scan) options="$options --save" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  case $command in
    "" | help) COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    get | watch | console | list) _zr90_complete_name "$cur" ;;
    set)
      _zr90_complete_name "$cur"
      # NAME=VALUE: the name comes with its '=' and no space after it.
      COMPREPLY=("${COMPREPLY[@]/%/=}")
      compopt -o nospace 2>/dev/null
      ;;
    save | diff | restore | plot)
      COMPREPLY=($(compgen -f -- "$cur"))
      compopt -o filenames 2>/dev/null
      ;;
    completion) COMPREPLY=($(compgen -W "bash powershell" -- "$cur")) ;;
  esac
}

complete -F _zr90_parm parmpeek parmpoke
complete -F _zr90sim zr90sim
complete -F _zr90 zr90
