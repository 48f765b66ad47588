#!/usr/bin/env bash
# The demo must not pass when a tool fails: a parmpoke that fails stops it with that
# exit code, and the steps after it do not run.
#   check_demo_fails.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
ln -s "$build/zr90sim" "$build/parmpeek" "$work/"
printf '#!/bin/sh\necho "Serial Timeout Error"\nexit 2\n' >"$work/parmpoke"
chmod +x "$work/parmpoke"

status=0
out=$(bash "$(dirname "$0")/../../scripts/demo.sh" "$work" serial 2>&1) || status=$?
printf '%s\n' "$out"
[ "$status" = 2 ] || { echo "FAIL: the demo exited with $status after a failed step, not 2" >&2; exit 1; }
grep -q "Parm address" <<<"$out" && { echo "FAIL: the demo went on after the failed step" >&2; exit 1; }
echo "a failed step ends the demo: ok"
