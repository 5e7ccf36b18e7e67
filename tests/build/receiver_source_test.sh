#!/bin/bash
# Where the embedded receiver comes from: udpcast's source downloaded and checked (through a
# file:// URL), and the checks on a prebuilt receiver named by AUTODEPLOY_RECEIVER, which only
# configure (scratch build folders, nothing is compiled).
# Usage: receiver_source_test.sh TOOLCHAIN-FILE
set -u
set -o pipefail

name=receiver_source_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
toolchain=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
. "$here/../scripts/test_lib.sh"

# The one line of a CMake error, without CMake's own framing.
error_line() { sed -n 's/^   \(..*\)$/\1/p' "$tmp/err"; }
expect() { # expect STATUS LINE WHAT: the last command's status and error line
    [ "$rc" = "$1" ] || fail "$3: status $rc, expected $1"
    [ "$(error_line)" = "$2" ] || fail "$3: error line [$(error_line)], expected [$2]"
}

# --- the download: a file:// URL, checked against the hash this test computes ----------------------
tarball=$tmp/udpcast-20250223.tar.gz
printf 'not really udpcast\n' >"$tmp/source.tar.gz"
md5=$(md5sum <"$tmp/source.tar.gz" | cut -c1-32)
advice="download udpcast-20250223.tar.gz yourself and build with UDPCAST_SOURCE=/path/to/udpcast-20250223.tar.gz"
fetch() { # fetch -DVAR=VALUE...
    cmake "$@" -DOUTPUT="$tarball" -P "$repo/cmake/udpcast-fetch.cmake" >"$tmp/out" 2>"$tmp/err"
    rc=$?
}
fetch -DURL="file://$tmp/source.tar.gz" -DMD5="$md5"
expect 0 "" "download with the right MD5"
cmp -s "$tarball" "$tmp/source.tar.gz" || fail "the download is not the file at the URL"
rm -f "$tarball"
ok "a download whose MD5 matches is kept"

for case in "wrong MD5|file://$tmp/source.tar.gz|0123456789abcdef0123456789abcdef|udpcast's source from \
file://$tmp/source.tar.gz has MD5 $md5, not the published 0123456789abcdef0123456789abcdef: $advice" \
    "failed download|file://$tmp/missing.tar.gz|$md5|udpcast's source could not be downloaded from \
file://$tmp/missing.tar.gz (\"Couldn't read a file:// file\"): $advice"; do
    IFS='|' read -r what url hash line <<<"$case"
    fetch -DURL="$url" -DMD5="$hash"
    expect 1 "$line" "$what"
    [ -z "$(ls "$tmp" | grep udpcast-)" ] || fail "$what: left $(ls "$tmp" | grep udpcast-) behind"
    ok "$what: the build stops with one line that says what to do"
done
fetch -DSOURCE="$tmp/nothing.tar.gz" -DURL=unused -DMD5=unused
expect 1 "UDPCAST_SOURCE names no file ($tmp/nothing.tar.gz): $advice" "missing UDPCAST_SOURCE"
ok "a UDPCAST_SOURCE that is not there is refused"

# --- a prebuilt receiver: only a program for x64, or for x86 when one build asks for it -------------
wine_dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
cp "$wine_dlls/notepad.exe" "$tmp/x86.exe"
# The same program, marked for x86: the machine field follows "PE\0\0".
offset=$(od -An -tu4 -j60 -N4 "$tmp/x86.exe" | tr -d ' ')
printf '\x4c\x01' | dd of="$tmp/x86.exe" bs=1 seek=$((offset + 4)) conv=notrunc status=none
configure() { # configure RECEIVER [-DOPTION...]
    local receiver=$1
    shift
    cmake -S "$repo" -B "$tmp/build" -G Ninja --toolchain "$toolchain" -DAUTODEPLOY_TESTS=OFF \
        -DAUTODEPLOY_RECEIVER="$receiver" "$@" >"$tmp/out" 2>"$tmp/err"
    rc=$?
}
help="leave AUTODEPLOY_RECEIVER empty to build the receiver from udpcast's source, or name an x64 build of udp-receiver.exe"
configure "$wine_dlls/kernel32.dll"
expect 1 "$wine_dlls/kernel32.dll is a Windows DLL, not a program that can be started: $help" "a DLL"
configure "$repo/README.md"
expect 1 "$repo/README.md is not a Windows executable (no PE header): $help" "not a PE file"
ok "a DLL and a file that is not a program are refused"

refusal="The receiver $tmp/x86.exe is x86, but standard 64-bit WinPE has no WoW64 and cannot start it: use an x64 \
build, or for a WinPE image with WoW64 accept it for one build (make release RECEIVER=$tmp/x86.exe \
ALLOW_32BIT_RECEIVER=1, or -DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON)"
configure "$tmp/x86.exe"
expect 1 "$refusal" "a 32-bit receiver"
configure "$tmp/x86.exe" -DAUTODEPLOY_ALLOW_32BIT_RECEIVER=ON
expect 0 "The receiver $tmp/x86.exe is x86, but standard 64-bit WinPE has no WoW64 and cannot start it. Accepted \
for this build only (AUTODEPLOY_ALLOW_32BIT_RECEIVER=ON): the program works only in a WinPE image that carries WoW64." \
    "a 32-bit receiver, accepted once"
configure "$tmp/x86.exe"
expect 1 "$refusal" "a 32-bit receiver, the next time"
ok "a 32-bit receiver is refused, accepted for the one configure run that asks, then refused again"

printf '%s: %s passed, 0 failed\n' "$name" "$passed"
