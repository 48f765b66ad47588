#!/usr/bin/env bash
# Runs the commands of the README as a reader types them, so that none goes stale.
# Every code block in the README is marked by the line before it:
#   <!-- readme-test: local -->  run here, in order, in one shell: a fresh HOME and a
#                                fresh working folder whose ./build is the build
#   <!-- readme-test: table -->  (before a table) each row's `command` runs in that
#                                shell too; the first text in backquotes in its
#                                "prints" cell must be the first line printed,
#                                "nothing" means no output, "exit 2" that exit code
#   <!-- readme-test: ci -->     run by .ci/run from the source folder: installs,
#                                builds the whole tree, installs the package
#
#   run_readme.sh local README.md BUILD_DIR
#   run_readme.sh ci README.md
set -euo pipefail
mode=$1
readme=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")

fail() { echo "run_readme.sh: $*" >&2; exit 1; }
quote() { printf '%q' "$1"; }

# Turns the README into a bash script of the commands of one kind.
script_of() {
  local kind=$1 line marker="" block="" in_block=false number=0 rows=0
  local task command prints expected exit_code
  while IFS= read -r line || [ -n "$line" ]; do
    number=$((number + 1))
    if $in_block; then
      if [[ $line == '```' ]]; then
        in_block=false
        if [ "$block_kind" = "$kind" ]; then
          if [ "$kind" = ci ]; then
            echo "run_block $(quote "$block")"
          else
            printf 'echo %q\n%s' "# README line $block_line" "$block"
          fi
        fi
        block=""
      else
        block+="$line"$'\n'
      fi
    elif [[ $line =~ ^\<!--\ readme-test:\ ([a-z]+)\ --\>$ ]]; then
      marker=${BASH_REMATCH[1]}
      case $marker in local | table | ci) ;; *) fail "line $number: unknown kind '$marker'" ;; esac
      rows=0
    elif [[ $line == '```'* ]]; then
      [ -n "$marker" ] && [ "$marker" != table ] || fail "line $number: a code block without a readme-test marker before it"
      in_block=true block_kind=$marker block_line=$number marker=""
    elif [ "$marker" = table ] && [[ $line == '|'* ]]; then
      rows=$((rows + 1))
      ((rows > 2)) || continue # the header and its rule
      IFS='|' read -r _ task command prints _ <<<"$line"
      command=$(sed -e 's/^ *`//' -e 's/` *$//' <<<"$command")
      prints=$(sed -e 's/^ *//' -e 's/ *$//' <<<"$prints")
      if [[ $prints == nothing* ]]; then
        expected=""
      else
        [[ $prints == '`'* ]] || fail "line $number: the prints cell must start with \`text\` or nothing"
        expected=${prints#\`}
        expected=${expected%%\`*}
      fi
      exit_code=0
      [[ $prints == *"exit 2"* ]] && exit_code=2
      [ "$kind" = local ] && echo "check_row $number $(quote "$command") $(quote "$expected") $exit_code"
    elif [ "$marker" = table ] && ((rows > 0)); then
      marker="" # the table has ended
    elif [ -n "$marker" ] && [ "$marker" != table ] && [ -n "$line" ]; then
      fail "line $number: the readme-test marker is not followed by a code block"
    fi
  done <"$readme"
  $in_block && fail "the README ends inside a code block"
  return 0
}

case $mode in
  local)
    build=$(cd "${3:?run_readme.sh local README BUILD_DIR}" && pwd)
    commands=$(script_of local)
    work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-readme.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    mkdir "$work/home" "$work/here"
    ln -s "$build" "$work/here/build"
    cat >"$work/readme.sh" <<'PRELUDE'
set -euo pipefail
# Whatever the README left running ends with the run.
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
check_row() {
  local line=$1 command=$2 expected=$3 exit_wanted=$4 out status=0 first
  echo "\$ $command"
  # A reader presses Return: it ends a repeat loop and each pause of the name list.
  out=$(eval "$command" <<<$'\n\n\n') || status=$?
  printf '%s\n' "$out"
  first=${out%%$'\n'*}
  if [ "$status" != "$exit_wanted" ]; then
    echo "README line $line: '$command' exited with $status, the README says $exit_wanted" >&2
    exit 1
  fi
  if [ "$first" != "$expected" ]; then
    echo "README line $line: '$command' printed '$first' first, the README says '$expected'" >&2
    exit 1
  fi
}
PRELUDE
    printf '%s\n' "$commands" >>"$work/readme.sh"
    # The README's waits have no bound of their own; this is theirs.
    cd "$work/here"
    env HOME="$work/home" timeout 240 bash "$work/readme.sh" </dev/null
    echo "the README's commands: ok"
    ;;
  ci)
    commands=$(script_of ci)
    cd "$(dirname "$readme")"
    # One shell for all blocks, as a reader's terminal: what a block sets, the next
    # one has.
    run_block() {
      printf '\n$ %s' "$1"
      eval "$1"
    }
    set -euo pipefail
    eval "$commands"
    ;;
  *) fail "mode is local or ci" ;;
esac
