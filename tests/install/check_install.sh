#!/usr/bin/env bash
# What `cmake --install` gives a user: every program with its manual page and bash
# completion, the documents, under --prefix and under DESTDIR, found by man and by
# bash-completion the way a user's shell finds them.
#   check_install.sh BUILD_DIR VERSION PROGRAM...
set -euo pipefail
build=$1 version=$2
shift 2
programs=("$@")

work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

expected=()
for p in "${programs[@]}"; do
  expected+=("bin/$p" "share/man/man1/$p.1" "share/bash-completion/completions/$p")
done
expected+=(share/doc/zr90-tools/README.md lib/libzr90.so.$version include/zr90.h
  lib/python3/dist-packages/zr90/__init__.py lib/python3/dist-packages/zr90/_native.py)
for doc in "$(dirname "$0")"/../../docs/*.md; do expected+=("share/doc/zr90-tools/${doc##*/}"); done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) ||
  fail "installed files differ from the expected list (< expected, > installed)"

have_man=$(command -v man || true)
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "$p is not executable"
  [ "$("$prefix/bin/$p" --version)" = "$p $version (ZR90 service tools)" ] || fail "$p --version"
  [ -n "$have_man" ] || continue
  # The page renders without a warning, and man finds it from PATH alone.
  warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$p.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $p.1 warns: $warnings"
  page=$(MANWIDTH=80 man -l "$prefix/share/man/man1/$p.1" 2>/dev/null)
  [[ $page == NAME* || $page == *$'\n'NAME* ]] || fail "$p.1 has no NAME section"
  found=$(env -u MANPATH PATH="$prefix/bin:/usr/bin:/bin" man -w "$p" 2>/dev/null || true)
  [ "$found" = "$prefix/share/man/man1/$p.1" ] || fail "man -w $p finds '$found'"
done
[[ $("$prefix/bin/parmpeek" --help) == "Usage: parmpeek parm "* ]] || fail "parmpeek --help"

# The library exports its C interface and nothing else, under its soname; the
# package finds it from where it is installed, with no search path set.
[ -L "$prefix/lib/libzr90.so.${version%%.*}" ] && [ -L "$prefix/lib/libzr90.so" ] || fail "libzr90's links are missing"
if command -v nm >/dev/null; then
  exported=$(nm -D --defined-only "$prefix/lib/libzr90.so" | awk '{print $3}' | grep -v '^zr90_' || true)
  [ -z "$exported" ] || fail "libzr90 exports more than zr90_*: $exported"
fi
if command -v python3 >/dev/null; then
  found=$(cd / && env -u LD_LIBRARY_PATH -u ZR90_LIBRARY PYTHONPATH="$prefix/lib/python3/dist-packages" \
    python3 -c 'import zr90; print(zr90.version(), len(zr90.parameters()))')
  [ "$found" = "$version 178" ] || fail "the installed zr90 package says '$found'"
fi

# DESTDIR stages the same tree under the prefix, as a packager builds.
DESTDIR=$work/stage cmake --install "$build" --prefix /usr/local >/dev/null
[ -x "$work/stage/usr/local/bin/parmpeek" ] || fail "DESTDIR install has no usr/local/bin/parmpeek"
[ -f "$work/stage/usr/local/share/man/man1/parmpeek.1" ] || fail "DESTDIR install has no manual page"

if [ -z "$have_man" ]; then
  echo "install tree and versions: ok; man is missing (apt-get install man-db): manual pages not checked"
  exit 77
fi
echo "install tree, manual pages and versions: ok"
