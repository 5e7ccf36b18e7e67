#!/bin/bash
# make install into a DESTDIR, then from that tree alone (a PATH of its bin and the system's, no checkout):
# each command's --help and a refusal under its installed name, winpe-inject finding the installed program,
# each man page read by man without a warning; make uninstall leaves the tree empty.
# Usage: install_test.sh BUILD-DIR   (a built tree of this project: its programs and wimboot are installed)
set -uo pipefail
name=install_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
. "$here/../scripts/test_lib.sh"
needs man wimcapture wimdir
prefix=/opt/autodeploy dest=$tmp/new/dest # a DESTDIR not made yet: make install makes it
bin=$dest$prefix/bin

run make -s -C "$repo" install DESTDIR="$dest" PREFIX=$prefix RELEASE_BUILD="$1"
[ "$rc" = 0 ] && ! grep -rqF "$repo" "$dest" || fail "make install: status $rc, or the checkout named in the tree"
installed() { (cd / && env -i PATH="$bin:/usr/sbin:/usr/bin:/sbin:/bin" TMPDIR="$TMPDIR" "$@"); }
for command in $(python3 "$repo/roomserver/spoken.py"); do
    run installed "autodeploy-$command" --help
    [ "$rc" = 0 ] && [[ $(head -n 1 "$tmp/out") == "Usage: autodeploy-$command "* ]] && ! grep -q 'scripts/' "$tmp/out" ||
        fail "autodeploy-$command --help: status $rc"
    run installed "autodeploy-$command" --bogus
    [ "$rc" = 2 ] && [ "$(cat "$tmp/err")" = "autodeploy-$command: unknown option: --bogus (see --help)" ] ||
        fail "autodeploy-$command --bogus: status $rc"
    MANWIDTH=80 man --warnings -l "$dest$prefix/share/man/man8/autodeploy-$command.8" >"$tmp/out" 2>"$tmp/err" &&
        [ ! -s "$tmp/err" ] && grep -q "^NAME" "$tmp/out" && grep -Eq "^ *autodeploy-$command +- " "$tmp/out" ||
        fail "man autodeploy-$command: $(cat "$tmp/err")"
done
ok "from the installed tree: each command's --help and a refusal under its own name, its man page without a warning"

printf '# none yet\n' >"$in/room.txt"
run installed autodeploy-serve-room --room "$in/room.txt" "$in"
[ "$rc" = 2 ] && grep -q "; autodeploy-serve-pxe --collect $in/room.txt writes the MACs" "$tmp/err" ||
    fail "a refusal naming another command: status $rc"
mkdir -p "$tmp/pe/Windows/System32" && wimcapture "$tmp/pe" "$in/boot.wim" PE --boot >/dev/null || fail "the boot image"
run installed autodeploy-winpe-inject "$in/boot.wim"
[ "$rc" = 0 ] && [ "$(wimdir "$in/boot.wim" 1 --path=/Windows/System32 | grep -c '/autodeploy.*\.exe$')" = 3 ] ||
    fail "autodeploy-winpe-inject with the installed programs: status $rc"
ok "the installed commands find their parts (the Windows programs) and name each other by their installed names"

run make -s -C "$repo" uninstall DESTDIR="$dest" PREFIX=$prefix
[ "$rc" = 0 ] && [ -z "$(find "$dest" -mindepth 1)" ] || fail "make uninstall: status $rc, left $(find "$dest" -mindepth 1)"
ok "make uninstall leaves the tree empty"
finish
