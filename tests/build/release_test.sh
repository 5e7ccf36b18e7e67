#!/bin/bash
# The program as released: it, its receiver and its disk 0 guard import only DLLs that WinPE has, and a
# clean build of a copy of the sources, in other folders, gives the same bytes (no time stamp, no path).
# Usage: release_test.sh BUILD-DIR   (a configured and built tree of this project)
set -uo pipefail
name=release_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
build=$(cd "$1" && pwd -P)
. "$here/../scripts/test_lib.sh"

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
program=$build/src/autodeploy.exe
receiver=$(cached AUTODEPLOY_RECEIVER)
[ -n "$receiver" ] || receiver=$build/udpcast/udp-receiver.exe

for exe in "$program" "$receiver" "$build"/src/autodeploy-{guard,watch,capture}.exe; do
    imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort)
    [ -n "$imports" ] || fail "$exe: no imports found"
    for dll in $imports; do
        case $dll in
            kernel32.dll | advapi32.dll | msvcrt.dll | ws2_32.dll | iphlpapi.dll | api-ms-win-core-synch-l1-2-0.dll) ;;
            *) fail "$exe imports $dll, which WinPE does not have" ;;
        esac
    done
    x86_64-w64-mingw32-objdump -f "$exe" | grep -q 'file format pei-x86-64' || fail "$exe is not an x64 program"
done
ok "autodeploy.exe, its receiver, autodeploy-guard.exe, autodeploy-watch.exe and autodeploy-capture.exe are x64 and import only DLLs that WinPE has"

# The same sources and settings, built from scratch elsewhere.
copy=$tmp/sources-copied-elsewhere
mkdir -p "$copy"
cp -r "$repo/src" "$repo/cmake" "$repo/assets" "$repo/CMakeLists.txt" "$copy/" || fail "cannot copy the sources"
settings=(-DCMAKE_BUILD_TYPE="$(cached CMAKE_BUILD_TYPE)" -DAUTODEPLOY_RECEIVER="$(cached AUTODEPLOY_RECEIVER)")
while IFS= read -r setting; do settings+=("-D$setting"); done < <(grep -E '^AUTODEPLOY_(GPT|MBR)_SCRIPT|^AUTODEPLOY_WEB_ADDRESS' \
    "$build/CMakeCache.txt" | sed 's/:[A-Z]*=/=/')
[ -n "$(cached AUTODEPLOY_RECEIVER)" ] || settings+=(-DUDPCAST_SOURCE="$build/udpcast-20250223.tar.gz")
cmake -S "$copy" -B "$tmp/b" -G Ninja --toolchain "$copy/cmake/mingw-w64-x86_64.cmake" -DAUTODEPLOY_TESTS=OFF \
    "${settings[@]}" >"$tmp/out" 2>"$tmp/err" || fail "configuring the copy failed"
cmake --build "$tmp/b" --target autodeploy autodeploy-guard autodeploy-watch autodeploy-capture >"$tmp/out" 2>"$tmp/err" ||
    fail "building the copy failed"
for exe in autodeploy{,-guard,-watch,-capture}.exe; do
    first=$(sha256sum <"$build/src/$exe" | cut -c1-64)
    second=$(sha256sum <"$tmp/b/src/$exe" | cut -c1-64)
    [ "$first" = "$second" ] || fail "two builds of the same sources differ: $first ($build/src/$exe), $second (clean build elsewhere)"
    ok "a clean build elsewhere gives the same $exe, SHA-256 $first"
done
finish
