#!/usr/bin/env bash
# The Windows zip as a user unpacks it: one folder named after the version, the
# .exe files, the Windows README as a text file with Windows line ends, the
# PowerShell completion and the documents.
#   check_zip.sh ZIP VERSION PROGRAM...
set -euo pipefail
zip=$1 version=$2
shift 2
programs=("$@")
docs_dir=$(cd "$(dirname "$0")/../../docs" && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

top=zr90-tools-$version-win64
[ "$(basename "$zip")" = "$top.zip" ] || fail "the zip is named $(basename "$zip"), not $top.zip"
expected=("$top/README.txt" "$top/completion/zr90.ps1")
for p in "${programs[@]}"; do expected+=("$top/$p.exe"); done
for doc in "$docs_dir"/*.md; do expected+=("$top/docs/${doc##*/}"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(unzip -Z1 "$zip" | grep -v '/$' | sort) ||
  fail "zip contents differ from the expected list (< expected, > in the zip)"

work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-zip.XXXXXX")
trap 'rm -rf "$work"' EXIT
unzip -q -d "$work" "$zip"
readme=$work/$top/README.txt
[ "$(head -n 1 "$readme")" = $'# ZR90 service tools for Windows\r' ] || fail "README.txt is not the Windows README with CR LF line ends"
! grep -qE 'sudo|apt-get|man zr90|\.deb' "$readme" || fail "README.txt speaks of Linux: $(grep -E 'sudo|apt-get|man zr90|\.deb' "$readme")"
[ "$(grep -c $'\r$' "$readme")" = "$(wc -l <"$readme")" ] || fail "README.txt has lines without CR LF"
for exe in "${programs[@]}"; do
  [ "$(head -c 2 "$work/$top/$exe.exe")" = MZ ] || fail "$exe.exe is not a Windows program"
done
echo "$(basename "$zip"): ok"
