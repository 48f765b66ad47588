#!/usr/bin/env bash
# Runs every fuzz target of a ZR90_FUZZ build for a bounded time, starting from its
# seed corpus. A crash, a sanitizer report, a hang (one input taking over 10 s) or
# an oracle mismatch (an abort) fails the run; the input that did it is kept in the
# work folder and named in the output.
# Usage: tests/fuzz/run.sh BUILD_DIR [SECONDS_EACH] [TARGET...]
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [SECONDS_EACH] [TARGET...]}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  # Every target the build made: the list in CMakeLists.txt is the only one.
  for program in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$program" ] && targets+=("${program##*/fuzz_}")
  done
  [ ${#targets[@]} -gt 0 ] || { echo "run.sh: no fuzz targets in $build/tests/fuzz" >&2; exit 1; }
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-fuzz.XXXXXX")
failed=0
for name in "${targets[@]}"; do
  mkdir -p "$work/$name"
  echo "fuzz_$name: $seconds s"
  # The settings reader is fed inputs as large as its seeds of deep nesting and many keys.
  limits=()
  [ "$name" = settings ] && limits=(-max_len=131072)
  # New inputs go to the work folder: the seed corpus in the tree stays as it is.
  if ! "$build/tests/fuzz/fuzz_$name" "${limits[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/$name-" -print_final_stats=1 "$work/$name" "$here/corpus/$name" \
      > "$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log"
    echo "FAIL: fuzz_$name (inputs and log in $work)"
    failed=1
  fi
done
[ $failed -eq 0 ] && rm -rf "$work"
exit $failed
