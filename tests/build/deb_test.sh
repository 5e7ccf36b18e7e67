#!/bin/bash
# The Debian package: cmake/make-deb (make deb) builds it with debhelper and dpkg-buildpackage from a copy of the
# project's files and the source tarballs this build was made from; dpkg-deb reads what it holds and needs; lintian
# finds no error and no warning that is not overridden.
# Usage: deb_test.sh BUILD-DIR   (a configured and built tree of this project; exit 77: skipped, with the reason)
set -uo pipefail
name=deb_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
build=$(cd "$1" && pwd -P)
. "$here/../scripts/test_lib.sh"

for t in dpkg-buildpackage dh lintian; do
    command -v $t >/dev/null || { skip "$t is not installed (make deps installs dpkg-dev, debhelper and lintian)"; exit 77; }
done
udpcast=$(find "$build" -maxdepth 1 -name 'udpcast-*.tar.gz' | head -n 1)
wimboot=$(find "$build/wimboot" -maxdepth 1 -name 'wimboot-*.tar.gz' 2>/dev/null | head -n 1)
[ -n "$udpcast" ] && [ -n "$wimboot" ] || { skip "no udpcast or wimboot tarball in $build (a build with a receiver of its own)"; exit 77; }
version=$(sed -n 's/^project(autodeploy VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")

run "$repo/cmake/make-deb" "$tmp/deb" "" "$wimboot"
[ "$rc" = 1 ] && grep -q "^make deb: needs UDPCAST_SOURCE=FILE and WIMBOOT_SOURCE=FILE" "$tmp/err" && [ ! -e "$tmp/deb" ] ||
    fail "without a tarball: status $rc"
ok "without the pinned sources: refused, nothing made (a package build never downloads)"

run "$repo/cmake/make-deb" "$tmp/deb" "$udpcast" "$wimboot"
deb=$tmp/deb/autodeploy_${version}_amd64.deb
[ "$rc" = 0 ] && [ "$(tail -n 1 "$tmp/out")" = "$deb" ] && [ -f "$deb" ] || fail "make-deb: status $rc"
ok "the package built, its path printed last: ${deb##*/}"

dpkg-deb --contents "$deb" | awk '{ print $6 }' >"$tmp/contents" && read -ra commands <<<"$(python3 "$repo/roomserver/spoken.py")" || fail "dpkg-deb"
for path in "${commands[@]/#/./usr/bin/autodeploy-}" "${commands[@]/#/./usr/share/man/man8/autodeploy-}" \
    ./usr/share/autodeploy/windows/autodeploy{,-guard,-watch,-capture}.exe ./usr/share/autodeploy/wimboot/wimboot.{i386,x86_64.efi} \
    "./usr/share/autodeploy/source/${udpcast##*/}" "./usr/share/autodeploy/source/${wimboot##*/}" ./var/lib/autodeploy/ \
    ./usr/share/doc/autodeploy/copyright; do
    [[ $path != ./usr/share/man/* ]] || path+=.8.gz
    grep -qxF -- "$path" "$tmp/contents" || fail "the package lacks $path"
done
ok "it holds the ${#commands[@]} commands and their pages, the four Windows programs, wimboot, their sources, the work folder"
depends=$(dpkg-deb --field "$deb" Depends) recommends=$(dpkg-deb --field "$deb" Recommends)
[[ ", $depends," == *", dnsmasq-base, "* && ", $depends," == *", udpcast, "* && ", $depends," == *", python3,"* ]] &&
    [[ $depends != *coreutils* && $depends != *samba* ]] && [ "$recommends" = "etherwake, samba" ] &&
    [ "$(dpkg-deb --field "$deb" Version)" = "$version" ] ||
    fail "Depends [$depends], Recommends [$recommends], Version $(dpkg-deb --field "$deb" Version)"
ok "Depends from packages.txt's run group (essential packages left out), Recommends its optional one, the version $version"
lintian --fail-on error,warning "$deb" >"$tmp/lintian" 2>&1 || fail "lintian: $(cat "$tmp/lintian")"
ok "lintian: no error, no warning"
finish
