#!/bin/bash
# Tests of scripts/winpe-inject on small WinPE-shaped WIMs made with wimcapture.
# Stops at the first failure; removes everything it made, also on failure.

set -u
set -o pipefail

name=winpe_inject_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
inject="$repo/scripts/winpe-inject"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX") || { echo "$name: cannot create a temporary folder" >&2; exit 1; }
bg_pid=
cleanup() {
    if [ -n "$bg_pid" ]; then kill -KILL -- "-$bg_pid" 2>/dev/null; wait "$bg_pid" 2>/dev/null; fi
    rm -rf -- "$tmp"
}
trap cleanup EXIT
. "$here/test_lib.sh"

for tool in wimcapture wimappend wimdir wimextract wiminfo wimupdate sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (Debian packages wimtools, coreutils)"
done

# Scripts' own temporary folders go here, so leftovers can be seen.
export TMPDIR="$tmp/tmpdir"
mkdir -p "$TMPDIR"
unset WIMLIB_IMAGEX_IGNORE_CASE

# --- fixtures ----------------------------------------------------------------
trees="$tmp/trees"
wims="$tmp/wims"
mkdir -p "$trees" "$wims"
make_tree() { # make_tree DIR: a folder shaped like a WinPE image
    mkdir -p "$1/Windows/System32/config" "$1/Program Files"
    head -c 4096 /dev/urandom >"$1/Windows/System32/cmd.exe"
    head -c 2048 /dev/urandom >"$1/Windows/System32/wpeinit.exe"
    printf 'startnet\r\n' >"$1/Windows/System32/startnet.cmd"
    head -c 512 /dev/urandom >"$1/Windows/System32/config/SYSTEM"
}
capture() { wimcapture "$@" >/dev/null 2>&1 || fail "wimcapture $*"; }
append() { wimappend "$@" >/dev/null 2>&1 || fail "wimappend $*"; }

make_tree "$trees/pe"
make_tree "$trees/setup"
mkdir -p "$trees/notpe/Users"
echo hello >"$trees/notpe/Users/readme.txt"
make_tree "$trees/clash"
mkdir -p "$trees/clash/Windows/System32/autodeploy.exe"
echo x >"$trees/clash/Windows/System32/autodeploy.exe/inside"
mkdir -p "$trees/lower/windows/system32"
echo x >"$trees/lower/windows/system32/cmd.exe"

# one.wim: 1 image, bootable, like copype's winpe.wim
capture "$trees/pe" "$wims/one.wim" "Microsoft Windows PE (amd64)" --boot
# two.wim: 2 images, image 2 bootable, like the boot.wim of Windows setup media
capture "$trees/pe" "$wims/two.wim" "Microsoft Windows PE (amd64)"
append "$trees/setup" "$wims/two.wim" "Microsoft Windows Setup (amd64)" --boot
# noboot.wim: 2 images, none marked bootable
capture "$trees/pe" "$wims/noboot.wim" "first"
append "$trees/setup" "$wims/noboot.wim" "second"
capture "$trees/notpe" "$wims/notpe.wim" "not winpe"
capture "$trees/clash" "$wims/clash.wim" "clash"
capture "$trees/lower" "$wims/lower.wim" "lower case"
head -c 3000 /dev/urandom >"$wims/random.wim"
printf 'MSWIM\0\0\0 but nothing else' >"$wims/header-only.wim"

prog="$tmp/autodeploy.exe"
{ printf 'MZ'; head -c 70000 /dev/urandom; } >"$prog"
prog2="$tmp/other build.exe"
{ printf 'MZ'; head -c 1000 /dev/urandom; } >"$prog2"
noexe="$tmp/not-a-program.exe"
{ printf 'ELF'; head -c 100 /dev/urandom; } >"$noexe"
expected_ini="$tmp/expected.ini"
printf '[LaunchApps]\r\n%%SYSTEMDRIVE%%\\Windows\\System32\\cmd.exe, /k %%SYSTEMDRIVE%%\\Windows\\System32\\autodeploy-launch.cmd\r\n' \
    >"$expected_ini"

# --- helpers -----------------------------------------------------------------
run() { # run ARGS...: runs the script, sets $rc, stdout in $tmp/out, stderr in $tmp/err
    "$inject" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
    rc=$?
}
fresh() { # fresh NAME: a copy of a fixture in a folder of its own; prints the path
    local d
    d=$(mktemp -d "$tmp/case.XXXXXX") || fail "mktemp"
    cp -- "$wims/$1" "$d/$1" || fail "cp $1"
    printf '%s/%s\n' "$d" "$1"
}
expect_rc() { [ "$rc" = "$1" ] || fail "$2: exit status $rc, expected $1"; }
expect_text() { # expect_text FILE EXPECTED WHAT
    local got
    got=$(cat "$1")
    [ "$got" = "$2" ] || fail "$3: got [$got], expected [$2]"
}
expect_no_leftovers() { # expect_no_leftovers DIR WHAT: DIR holds only its WIM, TMPDIR is empty
    local n
    n=$(find "$1" -mindepth 1 | wc -l)
    [ "$n" = 1 ] || fail "$2: left files behind in $1: $(ls -A "$1" | tr '\n' ' ')"
    [ -z "$(ls -A "$TMPDIR")" ] || fail "$2: left files behind in TMPDIR: $(ls -A "$TMPDIR" | tr '\n' ' ')"
}
extract() { # extract WIM IMAGE PATH OUT
    wimextract "$1" "$2" "$3" --to-stdout >"$4" 2>/dev/null
}
expect_injected() { # expect_injected WIM IMAGE PROGRAM WHAT
    extract "$1" "$2" /Windows/System32/autodeploy.exe "$tmp/got.exe" ||
        fail "$4: image $2 has no \\Windows\\System32\\autodeploy.exe"
    cmp -s "$tmp/got.exe" "$3" || fail "$4: autodeploy.exe in image $2 differs from $3"
    extract "$1" "$2" /Windows/System32/winpeshl.ini "$tmp/got.ini" ||
        fail "$4: image $2 has no \\Windows\\System32\\winpeshl.ini"
    cmp -s "$tmp/got.ini" "$expected_ini" || fail "$4: winpeshl.ini in image $2 is [$(od -c "$tmp/got.ini")]"
    has_path "$1" "$2" /Windows/System32/autodeploy-launch.cmd ||
        fail "$4: image $2 has no \\Windows\\System32\\autodeploy-launch.cmd"
}
expect_untouched_image() { # expect_untouched_image WIM IMAGE TREE WHAT: the image still has its files
    local f
    for f in Windows/System32/cmd.exe Windows/System32/wpeinit.exe Windows/System32/startnet.cmd \
        Windows/System32/config/SYSTEM; do
        extract "$1" "$2" "/$f" "$tmp/got.file" || fail "$4: /$f missing from image $2"
        cmp -s "$tmp/got.file" "$3/$f" || fail "$4: /$f in image $2 changed"
    done
}
has_path() { wimdir "$1" "$2" --path="$3" >/dev/null 2>&1; }
field() { wiminfo "$1" | sed -n "s/^$2:[[:space:]]*//p" | head -n 1; }
sha() { sha256sum <"$1" | cut -d' ' -f1; }

# refuse WHAT STATUS EXPECTED_STDERR WIM ARGS...: the run is refused, the WIM stays as it was
refuse() {
    local what=$1 status=$2 message=$3 wim=$4 before=
    shift 4
    [ -e "$wim" ] && before=$(sha "$wim")
    run "$@"
    expect_rc "$status" "$what"
    expect_text "$tmp/err" "$message" "$what: stderr"
    [ ! -s "$tmp/out" ] || fail "$what: printed on stdout"
    if [ -n "$before" ]; then
        [ "$(sha "$wim")" = "$before" ] || fail "$what: $wim was changed"
        expect_no_leftovers "$(dirname "$wim")" "$what"
    fi
    ok "$what"
}

# --- successful runs ---------------------------------------------------------------
wim=$(fresh one.wim)
run --program "$prog" "$wim"
expect_rc 0 "one image, defaults"
expect_text "$tmp/out" "winpe-inject: updated image 1 (\"Microsoft Windows PE (amd64)\") of $wim
  added \\Windows\\System32\\autodeploy.exe (70002 bytes, from $prog)
  added \\Windows\\System32\\autodeploy-launch.cmd (runs wpeinit, then autodeploy.exe; holds a failed run)
  added \\Windows\\System32\\winpeshl.ini (runs autodeploy-launch.cmd)" "one image, defaults: stdout"
[ ! -s "$tmp/err" ] || fail "one image, defaults: printed on stderr"
expect_injected "$wim" 1 "$prog" "one image, defaults"
expect_untouched_image "$wim" 1 "$trees/pe" "one image, defaults"
[ "$(field "$wim" 'Image Count')" = 1 ] || fail "one image, defaults: image count changed"
[ "$(field "$wim" 'Boot Index')" = 1 ] || fail "one image, defaults: boot index changed"
expect_no_leftovers "$(dirname "$wim")" "one image, defaults"
ok "one image: program and winpeshl.ini added with the exact bytes"

run --program "$prog2" "$wim"
expect_rc 0 "run again with another program"
expect_injected "$wim" 1 "$prog2" "run again with another program"
expect_untouched_image "$wim" 1 "$trees/pe" "run again with another program"
expect_no_leftovers "$(dirname "$wim")" "run again with another program"
ok "running again replaces the program"

# Running again with the same program leaves the WIM as large as it was.
sizes=
for _ in 1 2 3; do
    run --program "$prog2" "$wim"
    expect_rc 0 "run again, same program"
    sizes="$sizes $(wc -c <"$wim")"
done
[ "$(echo $sizes | tr ' ' '\n' | sort -u | wc -l)" = 1 ] || fail "run again, same program: sizes$sizes"
ok "running again does not grow the WIM (sizes$sizes)"

wim=$(fresh two.wim)
run --program="$prog" "$wim"
expect_rc 0 "two images, default index"
expect_text "$tmp/out" "winpe-inject: updated image 2 (\"Microsoft Windows Setup (amd64)\") of $wim
  added \\Windows\\System32\\autodeploy.exe (70002 bytes, from $prog)
  added \\Windows\\System32\\autodeploy-launch.cmd (runs wpeinit, then autodeploy.exe; holds a failed run)
  added \\Windows\\System32\\winpeshl.ini (runs autodeploy-launch.cmd)" "two images, default index: stdout"
expect_injected "$wim" 2 "$prog" "two images, default index"
expect_untouched_image "$wim" 2 "$trees/setup" "two images, default index"
expect_untouched_image "$wim" 1 "$trees/pe" "two images, default index"
! has_path "$wim" 1 /Windows/System32/autodeploy.exe || fail "two images, default index: image 1 was changed too"
! has_path "$wim" 1 /Windows/System32/winpeshl.ini || fail "two images, default index: image 1 was changed too"
[ "$(field "$wim" 'Image Count')" = 2 ] || fail "two images, default index: image count changed"
[ "$(field "$wim" 'Boot Index')" = 2 ] || fail "two images, default index: boot index changed"
expect_no_leftovers "$(dirname "$wim")" "two images, default index"
ok "two images: the bootable image 2 is the default"

wim=$(fresh two.wim)
run --index 1 --program "$prog" "$wim"
expect_rc 0 "two images, --index 1"
expect_injected "$wim" 1 "$prog" "two images, --index 1"
! has_path "$wim" 2 /Windows/System32/autodeploy.exe || fail "two images, --index 1: image 2 was changed too"
expect_no_leftovers "$(dirname "$wim")" "two images, --index 1"
ok "two images: --index 1 updates image 1 only"

wim=$(fresh noboot.wim)
run --program "$prog" "$wim"
expect_rc 0 "no bootable image"
expect_injected "$wim" 1 "$prog" "no bootable image"
! has_path "$wim" 2 /Windows/System32/autodeploy.exe || fail "no bootable image: image 2 was changed"
ok "two images, none bootable: image 1 is the default"

wim=$(fresh lower.wim)
run --program "$prog" "$wim"
expect_rc 0 "lower-case windows/system32"
WIMLIB_IMAGEX_IGNORE_CASE=1 expect_injected "$wim" 1 "$prog" "lower-case windows/system32"
export WIMLIB_IMAGEX_IGNORE_CASE=0
has_path "$wim" 1 /windows/system32/autodeploy.exe || fail "lower-case windows/system32: not added to it"
! has_path "$wim" 1 /Windows || fail "lower-case windows/system32: a second Windows folder was made"
unset WIMLIB_IMAGEX_IGNORE_CASE
ok "folder names are matched without regard to case, as Windows does"

# The default program is build/release/src/autodeploy.exe next to the script's folder.
fake_repo="$tmp/repo with spaces"
mkdir -p "$fake_repo/scripts" "$fake_repo/build/release/src"
cp -- "$inject" "$fake_repo/scripts/winpe-inject"
cp -- "$prog2" "$fake_repo/build/release/src/autodeploy.exe"
wim=$(fresh one.wim)
(cd "$tmp" && "$fake_repo/scripts/winpe-inject" "$wim" >"$tmp/out" 2>"$tmp/err")
rc=$?
expect_rc 0 "default program path"
expect_injected "$wim" 1 "$prog2" "default program path"
grep -qF "from $fake_repo/build/release/src/autodeploy.exe)" "$tmp/out" || fail "default program path: stdout"
ok "default program: build/release/src/autodeploy.exe of the repository"

# A relative WIM path from another working folder, and a symbolic link to the WIM.
wim=$(fresh two.wim)
(cd "$(dirname "$wim")" && "$inject" --index 02 --program "$prog" two.wim >"$tmp/out" 2>"$tmp/err")
rc=$?
expect_rc 0 "relative path"
expect_injected "$wim" 2 "$prog" "relative path"
expect_no_leftovers "$(dirname "$wim")" "relative path"
ok "relative WIM path, --index with a leading zero"

wim=$(fresh one.wim)
ln -s "$wim" "$tmp/link.wim"
run --program "$prog" "$tmp/link.wim"
expect_rc 0 "symbolic link"
[ -L "$tmp/link.wim" ] || fail "symbolic link: the link was replaced"
expect_injected "$wim" 1 "$prog" "symbolic link"
expect_no_leftovers "$(dirname "$wim")" "symbolic link"
rm -f "$tmp/link.wim"
ok "a symbolic link to the WIM updates the file it points to"

run --help
expect_rc 0 "--help"
head -n 1 "$tmp/out" | grep -qxF 'Usage: scripts/winpe-inject [--index N] [--program PATH] BOOT.WIM' ||
    fail "--help: first line"
grep -qF 'the image the' "$tmp/out" || fail "--help: default index not described"
ok "--help"

# --- refusals ------------------------------------------------------------------
wim=$(fresh two.wim)
refuse "missing WIM" 1 "winpe-inject: no such file: $tmp/nowhere.wim" "$tmp/nowhere.wim" \
    --program "$prog" "$tmp/nowhere.wim"
rnd=$(fresh random.wim)
refuse "random bytes are not a WIM" 1 "winpe-inject: not a WIM file: $rnd" "$rnd" --program "$prog" "$rnd"
hdr=$(fresh header-only.wim)
refuse "truncated WIM" 1 "winpe-inject: not a WIM file: $hdr" "$hdr" --program "$prog" "$hdr"
refuse "a folder is not a WIM" 1 "winpe-inject: not a regular file: $tmp" "" --program "$prog" "$tmp"
refuse "index 3 of two" 1 "winpe-inject: image 3 does not exist in $wim (it has 2 images)" "$wim" \
    --index 3 --program "$prog" "$wim"
one=$(fresh one.wim)
refuse "index 2 of one" 1 "winpe-inject: image 2 does not exist in $one (it has 1 image)" "$one" \
    --index 2 --program "$prog" "$one"
refuse "huge index" 1 "winpe-inject: image 12345678901234567890 does not exist in $wim (it has 2 images)" "$wim" \
    --index 12345678901234567890 --program "$prog" "$wim"
refuse "index 0" 2 "winpe-inject: --index needs a whole number of 1 or more, got '0'" "$wim" \
    --index 0 --program "$prog" "$wim"
refuse "index not a number" 2 "winpe-inject: --index needs a whole number of 1 or more, got 'two'" "$wim" \
    --index two --program "$prog" "$wim"
refuse "index without a value" 2 "winpe-inject: --index needs a value (see --help)" "$wim" "$wim" --index
refuse "missing program" 1 "winpe-inject: program not found: $tmp/nothing.exe" "$wim" \
    --program "$tmp/nothing.exe" "$wim"
# The default program, in a checkout without a release build.
mkdir -p "$tmp/checkout/scripts"
cp "$inject" "$tmp/checkout/scripts/"
inject_saved=$inject inject=$tmp/checkout/scripts/winpe-inject
refuse "no release build" 1 "winpe-inject: no release build at $tmp/checkout/build/release/src/autodeploy.exe: run \
'make release' first, or name the program with --program" "$wim" "$wim"
inject=$inject_saved
refuse "program is not a Windows program" 1 "winpe-inject: not a Windows program (no MZ header): $noexe" "$wim" \
    --program "$noexe" "$wim"
notpe=$(fresh notpe.wim)
refuse "image without Windows/System32" 1 \
    "winpe-inject: image 1 of $notpe has no \\Windows\\System32 folder (not a WinPE image?)" "$notpe" \
    --program "$prog" "$notpe"
ro=$(fresh one.wim)
chmod 444 "$ro"
refuse "read-only WIM" 1 \
    "winpe-inject: $ro is read-only; make it writable (chmod u+w) if it may be changed, or give a copy" "$ro" \
    --program "$prog" "$ro"
[ "$(stat -c %a "$ro")" = 444 ] || fail "read-only WIM: its mode was changed"
refuse "unknown option" 2 "winpe-inject: unknown option: --force (see --help)" "$wim" --force --program "$prog" "$wim"
refuse "no WIM given" 2 "winpe-inject: missing BOOT.WIM (see --help)" "" --program "$prog"
refuse "two WIMs given" 2 "winpe-inject: too many arguments (see --help)" "$wim" --program "$prog" "$wim" "$one"

# wimupdate itself fails: autodeploy.exe already exists as a folder in the image.
clash=$(fresh clash.wim)
before=$(sha "$clash")
run --program "$prog" "$clash"
expect_rc 1 "wimupdate fails"
expect_text "$tmp/err" "winpe-inject: wimupdate could not update image 1 of $clash: \"/Windows/System32/autodeploy.exe\" \
is a directory! Specify the path at which to place the file inside this directory. Exiting with error code 32: \
One of the specified paths to delete was a directory.; fix that and run again ($clash is left as it was)" \
    "wimupdate fails: stderr"
[ "$(sha "$clash")" = "$before" ] || fail "wimupdate fails: $clash was changed"
expect_no_leftovers "$(dirname "$clash")" "wimupdate fails"
ok "wimupdate fails: wimlib's whole reason on one line, original untouched, temporary copy removed"

# Interrupted while wimupdate runs (a stand-in that waits): the copy is removed.
stub="$tmp/stub-bin"
mkdir -p "$stub"
cat >"$stub/wimupdate" <<EOF
#!/bin/sh
touch "$tmp/wimupdate-started"
exec sleep 60
EOF
chmod +x "$stub/wimupdate"
wim=$(fresh two.wim)
before=$(sha "$wim")
set -m
PATH="$stub:$PATH" "$inject" --program "$prog" "$wim" >"$tmp/out" 2>"$tmp/err" </dev/null &
bg_pid=$!
set +m
for _ in $(seq 100); do [ -e "$tmp/wimupdate-started" ] && break; sleep 0.1; done
[ -e "$tmp/wimupdate-started" ] || fail "interrupted: the stand-in wimupdate never ran"
[ "$(find "$(dirname "$wim")" -mindepth 1 | wc -l)" = 2 ] || fail "interrupted: no temporary copy while updating"
kill -TERM -- "-$bg_pid"
wait "$bg_pid"
rc=$?
bg_pid=
[ "$rc" != 0 ] || fail "interrupted: exit status 0"
[ "$(sha "$wim")" = "$before" ] || fail "interrupted: $wim was changed"
expect_no_leftovers "$(dirname "$wim")" "interrupted"
ok "interrupted by SIGTERM: original untouched, temporary copy removed"

printf '%s: %s passed, 0 failed\n' "$name" "$passed"
