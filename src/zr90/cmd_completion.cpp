// zr90 completion bash: completion for zr90 (commands, options, parameter names)
// and for parmpeek and parmpoke (a parameter name in the first argument).
#include <cstdio>
#include <string>

#include "dictionary/dictionary.h"
#include "zr90/commands.h"

namespace zr90 {

namespace {

constexpr char SCRIPT[] = R"(# bash completion for zr90, parmpeek and parmpoke
_zr90_parameters="@PARAMETERS@"

_zr90() {
  local cur prev
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD-1]}"
  local commands="list get set watch faults completion help"
  local options="-a --axis --interface --protocol --port --baud --baud-mul --ip --trace --json --csv --value --hex -q --quiet -h --help -V --version"
  case "$prev" in
    --interface) COMPREPLY=($(compgen -W "OSDEVICE EZAL16 OSZAL" -- "$cur")); return ;;
    --protocol) COMPREPLY=($(compgen -W "HEX ZAL SSZAL DIRECT" -- "$cur")); return ;;
    -a|--axis) COMPREPLY=($(compgen -W "0 1 2 3 4 5 6 7 all" -- "$cur")); return ;;
    --trace) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --port|--baud|--baud-mul|--ip|--interval|--count) return ;;
  esac
  local command="" word
  for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
    case " $commands " in *" $word "*) command="$word"; break ;; esac
  done
  if [[ "$cur" == -* ]]; then
    case "$command" in
      set) options="$options -y --yes --no-verify -v --verbose" ;;
      watch) options="$options --interval --count" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  case "$command" in
    "") COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    get|watch|list) COMPREPLY=($(compgen -W "$_zr90_parameters" -- "$cur")) ;;
    set)
      compopt -o nospace 2>/dev/null
      COMPREPLY=($(compgen -W "$_zr90_parameters" -S "=" -- "$cur")) ;;
    completion) COMPREPLY=($(compgen -W "bash" -- "$cur")) ;;
    help) COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
  esac
}

_zr90_parm() {
  if [[ $COMP_CWORD -eq 1 ]]; then
    COMPREPLY=($(compgen -W "$_zr90_parameters" -- "${COMP_WORDS[1]}"))
  fi
}

complete -F _zr90 zr90
complete -F _zr90_parm parmpeek parmpoke
)";

}  // namespace

int run_completion(const std::string& /*shell*/) {
  std::string names;
  for (const dict::ZORNPARAMREC& row : dict::ZORNPARAMS) {
    if (!names.empty()) names += ' ';
    names += row.PARMNAME;
  }
  std::string script = SCRIPT;
  const std::string marker = "@PARAMETERS@";
  script.replace(script.find(marker), marker.size(), names);
  std::fputs(script.c_str(), stdout);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? EXIT_DONE : EXIT_USAGE;
}

}  // namespace zr90
