#!/usr/bin/env bash
# Builds the Windows programs with the cross compiler and runs the end-to-end tests
# against the .exe files under Wine, as a Windows user would run them.
#
#   bash .ci/windows.sh <linux build dir>
#
# The Linux build provides zr90sim and the test runner; it is configured again here
# with ZR90_WINDOWS_BIN_DIR so that the same end-to-end cases are registered a second
# time, labelled "windows", against the Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."

linux_build=${1:?usage: bash .ci/windows.sh <linux build dir>}
win_build=${ZR90_WIN_BUILD:-build-win}
wine_loader=${ZR90_RUNNER:-/usr/lib/wine/wine64}

for tool in x86_64-w64-mingw32-g++-posix "$wine_loader"; do
  command -v "$tool" >/dev/null || { echo "windows.sh: $tool is missing" >&2; exit 1; }
done
if command -v wineserver >/dev/null; then
  wineserver=wineserver
else
  wineserver=/usr/lib/wine/wineserver64
fi

echo "-- cross build into $win_build"
# Warnings fail the build: the Windows files are compiled nowhere else.
cmake --preset windows -B "$win_build" -DCMAKE_CXX_FLAGS=-Werror
cmake --build "$win_build" -j2
win_bin=$(cd "$win_build" && pwd)
for exe in parmpeek.exe parmpoke.exe zr90.dll zr90-capi-check.exe; do
  test -f "$win_bin/$exe" || { echo "windows.sh: $exe was not built" >&2; exit 1; }
done

echo "-- the zip"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$win_build/CMakeCache.txt")
rm -f "$win_bin"/zr90-tools-*-win64.zip
cpack --config "$win_bin/CPackConfig.cmake" -B "$win_bin" >/dev/null
IFS=';' read -ra programs <"$win_build/zr90-programs.txt"
bash tests/install/check_zip.sh "$win_bin/zr90-tools-$version-win64.zip" "$version" "${programs[@]}"

echo "-- registering the end-to-end tests against $win_bin"
cmake -S . -B "$linux_build" -DZR90_WINDOWS_BIN_DIR="$win_bin" >/dev/null
# The test list is taken when the test program is linked; relink it so that the
# second registration gets its list too.
rm -f "$linux_build/tests/e2e_tests"
cmake --build "$linux_build" -j2 --target e2e_tests

echo "-- starting Wine"
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/zr90-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all
stop_wine() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap stop_wine EXIT
# A persistent server spares every test run the server's start and linger.
"$wineserver" -p >/dev/null 2>&1 </dev/null
# A fixed address-space layout, as the tests give every Windows program they start:
# with a random one Wine now and then fails to map its shared user data. Where the
# system refuses to fix the layout, the usual start.
setarch "$(uname -m)" -R "$wine_loader" wineboot -i >/dev/null 2>&1 </dev/null ||
  "$wine_loader" wineboot -i >/dev/null 2>&1 </dev/null
# A new prefix maps COM1 and up to the host's serial devices; the tests want a
# machine whose only ports are the ones they link in themselves.
rm -f "$WINEPREFIX"/dosdevices/com*

echo "-- the C interface of zr90.dll under Wine, against a simulated card"
sim_out=$(mktemp "${TMPDIR:-/tmp}/zr90-capi-sim.XXXXXX")
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zr90-capi.XXXXXX")
for _ in 1 2 3 4 5; do
  address=127.0.$((RANDOM % 200 + 20)).$((RANDOM % 200 + 20))
  "$linux_build/zr90sim" card --udp "$address" >"$sim_out" 2>/dev/null &
  sim_pid=$!
  for _ in $(seq 100); do grep -q '^ready ' "$sim_out" && break; kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
  grep -q '^ready ' "$sim_out" && break
  kill "$sim_pid" 2>/dev/null || true
done
capi_status=0
INTERFACE=EZAL16 PROTOCOL=SSZAL IPADDR=$address BAUDRATE=2500000 \
  setarch "$(uname -m)" -R "$wine_loader" "$win_bin/zr90-capi-check.exe" "Z:${scratch//\//\\}" || capi_status=$?
kill "$sim_pid" 2>/dev/null || true
rm -rf "$scratch" "$sim_out"
[ "$capi_status" = 0 ] || { echo "windows.sh: zr90-capi-check.exe failed under Wine" >&2; exit 1; }

echo "-- end-to-end tests of the Windows programs under Wine"
# One at a time: the COM port links live in the one prefix that all tests share.
status=0
ctest --test-dir "$linux_build" -L windows --output-on-failure || status=$?
# A later plain ctest of the Linux build runs the Linux cases only.
cmake -S . -B "$linux_build" -DZR90_WINDOWS_BIN_DIR= >/dev/null
exit "$status"
