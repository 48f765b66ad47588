#!/usr/bin/env bash
# The .deb as a Debian user gets it: its control fields, its files, and an install
# and removal with dpkg in a root of its own.
#   check_deb.sh BUILD_DIR VERSION PROGRAM...
# Exit 77 (skipped) where dpkg-deb is missing, or where dpkg cannot install
# (not root and no fakeroot).
set -euo pipefail
build=$(cd "$1" && pwd) version=$2
shift 2
programs=("$@")
docs_dir=$(cd "$(dirname "$0")/../../docs" && pwd)

command -v dpkg-deb >/dev/null || { echo "dpkg-deb is missing: skipped"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/zr90-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
arch=$(dpkg --print-architecture)
deb=$work/out/zr90-tools_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$work/out"; fail "no $deb"; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zr90-tools ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Section)" ] || fail "no Section"
[[ $(field Description) == *parmpeek* ]] || fail "Description does not name the tools"
# Nothing beyond the C and C++ run-time libraries.
depends=$(field Depends)
for dependency in ${depends//,/ }; do
  case $dependency in
    libc6 | libstdc++6 | libgcc-s1 | \(* | *\)) ;;
    *) fail "unexpected dependency $dependency in: $depends" ;;
  esac
done

expected=()
for p in "${programs[@]}"; do
  expected+=("./usr/bin/$p" "./usr/share/man/man1/$p.1" "./usr/share/bash-completion/completions/$p")
done
expected+=(./usr/share/doc/zr90-tools/README.md ./usr/lib/libzr90.so ./usr/lib/libzr90.so.${version%%.*}
  ./usr/lib/libzr90.so.$version ./usr/include/zr90.h ./usr/lib/python3/dist-packages/zr90/__init__.py
  ./usr/lib/python3/dist-packages/zr90/_native.py)
for doc in "$docs_dir"/*.md; do expected+=("./usr/share/doc/zr90-tools/${doc##*/}"); done
diff <(printf '%s\n' "${expected[@]}" | sort) \
     <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort) ||
  fail "package files differ from the expected list (< expected, > packaged)"

# Install and remove in a root of its own: the programs run from there, and removal
# leaves no file behind.
if [ "$(id -u)" = 0 ]; then
  as_root=()
elif command -v fakeroot >/dev/null; then
  as_root=(fakeroot)
else
  echo "not root and no fakeroot: install skipped"; exit 77
fi
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
touch "$root/var/lib/dpkg/status"
# The library is made known to the loader when the package is configured.
dpkg-deb -I "$deb" postinst 2>/dev/null | grep -qx $'\tldconfig' || fail "the package does not run ldconfig when installed"
# The fresh root has no libc package: its dependencies are the host's. Nor has it a
# shell: its scripts run outside it, with an ldconfig that leaves the host's cache alone.
mkdir -p "$work/stub"
printf '#!/bin/sh\nexit 0\n' >"$work/stub/ldconfig"
chmod +x "$work/stub/ldconfig"
dpkg_in_root() {
  PATH="$work/stub:$PATH" "${as_root[@]}" dpkg --root="$root" --log=/dev/null --force-depends --force-not-root \
    --force-script-chrootless "$@"
}
dpkg_in_root -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
for p in "${programs[@]}"; do
  [ "$("$root/usr/bin/$p" --version)" = "$p $version (ZR90 service tools)" ] || fail "installed $p --version"
done
# Purged: the ldconfig scripts keep a removed package known until then.
dpkg_in_root -P zr90-tools >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -P"; }
left=$(find "$root/usr" -type f 2>/dev/null || true)
[ -z "$left" ] || fail "dpkg -P left: $left"
status=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Status}' zr90-tools 2>/dev/null || true)
[[ -z $status || $status == *not-installed* ]] || fail "dpkg still has zr90-tools as: $status"
echo "$(basename "$deb"): fields, files, install and removal ok"
