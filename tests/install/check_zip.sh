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
expected=("$top/README.txt" "$top/completion/zr90.ps1" "$top/zr90.dll" "$top/include/zr90.h"
  "$top/python/zr90/__init__.py" "$top/python/zr90/_native.py")
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
[ "$(head -c 2 "$work/$top/zr90.dll")" = MZ ] || fail "zr90.dll is not a Windows library"
# The C++ run-time is inside: the DLL needs nothing a Windows machine lacks.
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  needed=$(x86_64-w64-mingw32-objdump -p "$work/$top/zr90.dll" | sed -n 's/^\tDLL Name: //p' | grep -iE 'libstdc|libgcc|winpthread' || true)
  [ -z "$needed" ] || fail "zr90.dll needs $needed"
fi
echo "$(basename "$zip"): ok"
