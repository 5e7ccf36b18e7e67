#!/bin/bash
# Where the embedded receiver comes from: udpcast's source downloaded and checked against its MD5
# (through a file:// URL), and the checks on a prebuilt receiver named by AUTODEPLOY_RECEIVER
# (configure runs in a scratch folder; nothing is compiled).
# Usage: receiver_source_test.sh TOOLCHAIN-FILE
set -u
name=receiver_source_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
. "$here/../scripts/test_lib.sh"

# expect STATUS LINE WHAT COMMAND...: the status and the one line of CMake's error or warning.
expect() {
    local status=$1 line=$2 what=$3 got
    shift 3
    run "$@"
    got=$(sed -n 's/^   \(..*\)$/\1/p' "$tmp/err")
    [ "$rc" = "$status" ] || fail "$what: status $rc, expected $status"
    [ "$got" = "$line" ] || fail "$what: got [$got], expected [$line]"
    ok "$what"
}

tarball=$tmp/udpcast-20250223.tar.gz
printf 'not really udpcast\n' >"$tmp/source.tar.gz"
md5=$(md5sum <"$tmp/source.tar.gz" | cut -c1-32)
advice="download udpcast-20250223.tar.gz yourself and build with UDPCAST_SOURCE=/path/to/udpcast-20250223.tar.gz"
fetch() { cmake -DURL="$1" -DMD5="$2" -DOUTPUT="$tarball" -P "$repo/cmake/udpcast-fetch.cmake"; }
expect 0 "" "a download with the published MD5 is kept" fetch "file://$tmp/source.tar.gz" "$md5"
cmp -s "$tarball" "$tmp/source.tar.gz" || fail "the download is not the file at the URL"
rm -f "$tarball"
expect 1 "udpcast's source from file://$tmp/source.tar.gz has MD5 $md5, not the published \
0123456789abcdef0123456789abcdef: $advice" "a wrong MD5 stops the build" \
    fetch "file://$tmp/source.tar.gz" 0123456789abcdef0123456789abcdef
expect 1 "udpcast's source could not be downloaded from file://$tmp/missing.tar.gz (\"Couldn't read a file:// \
file\"): $advice" "a failed download stops the build" fetch "file://$tmp/missing.tar.gz" "$md5"
! compgen -G "$tmp/udpcast-*" >/dev/null || fail "a refused download left $(compgen -G "$tmp/udpcast-*") behind"

# A prebuilt receiver: only a program for x64, or for x86 when one configure run asks for it.
wine_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
cp "$wine_dlls/notepad.exe" "$tmp/x86.exe"
offset=$(od -An -tu4 -j60 -N4 "$tmp/x86.exe" | tr -d ' ') # the machine field follows "PE\0\0"
printf '\x4c\x01' | dd of="$tmp/x86.exe" bs=1 seek=$((offset + 4)) conv=notrunc status=none
configure() {
    cmake -S "$repo" -B "$tmp/build" -G Ninja --toolchain "$1" -DAUTODEPLOY_TESTS=OFF -DAUTODEPLOY_RECEIVER="$2" "${@:3}"
}
expect 1 "$wine_dlls/kernel32.dll is a Windows DLL, not a program that can be started: leave AUTODEPLOY_RECEIVER \
empty to build the receiver from udpcast's source, or name an x64 build of udp-receiver.exe" "a DLL is refused" \
    configure "$1" "$wine_dlls/kernel32.dll"
why="The receiver $tmp/x86.exe is x86, but standard 64-bit WinPE has no WoW64 and cannot start it"
refused="$why: use an x64 build, or for a WinPE image with WoW64 accept it for one build (make release \
RECEIVER=$tmp/x86.exe ALLOW_32BIT_RECEIVER=1, or -DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON)"
expect 1 "$refused" "a 32-bit receiver is refused" configure "$1" "$tmp/x86.exe"
expect 0 "$why. Accepted for this build only (AUTODEPLOY_ALLOW_32BIT_RECEIVER=ON): the program works only in a \
WinPE image that carries WoW64." "a 32-bit receiver is accepted when asked" \
    configure "$1" "$tmp/x86.exe" -DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON
expect 1 "$refused" "the next configure run refuses it again" configure "$1" "$tmp/x86.exe"
finish
