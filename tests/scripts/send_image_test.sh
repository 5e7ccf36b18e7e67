#!/bin/bash
# scripts/send-image with a stand-in udp-sender on PATH (it records its arguments and the file it
# is given; no run sends anything); the interface checks in a network namespace of its own.
set -u -o pipefail
name=send_image_test
. "$(dirname "$0")/test_lib.sh"
script=$(cd "$(dirname "$0")/../.." && pwd -P)/scripts/send-image
needs wimcapture wimappend wiminfo ip timeout
# It runs in a network namespace with an interface fit to send on (the one udp-sender would pick).
ns=adsend$$ && ip netns add "$ns" 2>/dev/null || { skip "cannot create network namespaces (needs root)"; finish; exit 77; }
at_exit() { ip netns pids "$ns" | xargs -r kill -KILL; ip netns delete "$ns"; }
# shellcheck disable=SC2086 # each $command is several arguments
for command in "link add vdown0 type veth peer name vnolink0" "link add vgood0 type veth peer name vnoaddr0" \
    "link add v32 type veth peer name v32p" "addr add 10.213.61.1/24 brd + dev vgood0" "addr add 10.9.0.1/32 dev v32" \
    "link set lo up" "link set vnolink0 up" "link set vnoaddr0 up" "link set vgood0 up" "link set v32 up" "link set v32p up"
do ip -n "$ns" $command || fail "ip $command in $ns"; done
send=(timeout 30 ip netns exec "$ns" "$script")

# Windows installations with the files bcdboot reads (a and b), and one without (c).
. "$(dirname "$0")/../../scripts/lib/winimage.sh"
mkdir -p "$tmp/bin" "$tmp/c" && winimage_sample_tree "$tmp/a" && winimage_sample_tree "$tmp/b" || fail "fixtures"
# What udp-sender says when PC 10.0.0.5 received everything.
export done='New connection from 10.0.0.5  (#0) 00000009\nStarting transfer: 00000009\nTransfer complete.\007\nDisconnecting #0 (10.0.0.5)\n'
# shellcheck disable=SC2016 # the stand-in's own expansions, written as they are
printf '#!/bin/bash\necho "$*" >%q/args; cp -- "$2" %q/sent; printf %%b "${STUB_STDERR-$done}" >&2
[ -z "${STUB_HANG:-}" ] || { echo $$ >%q/pid; trap "" TERM; exec sleep 60; }; exit ${STUB_STATUS:-0}\n' \
    "$tmp" "$tmp" "$tmp" >"$tmp/bin/udp-sender" && chmod +x "$tmp/bin/udp-sender" && export PATH=$tmp/bin:$PATH
head -c 100000 /dev/urandom >"$tmp/a/a.bin" && head -c 50000 /dev/urandom >"$tmp/b/b.bin" || fail "fixtures"
install=$in/install.wim single=$in/single.wim
{ wimcapture "$tmp/a" "$install" Pro && wimappend "$tmp/b" "$install" Enterprise && wimcapture "$tmp/b" "$single" One &&
    wimcapture "$tmp/c" "$in/nowin.wim" None && rm "$tmp/b/Windows/Boot/PCAT/bootmgr" &&
    wimcapture "$tmp/b" "$in/noboot.wim" NoBoot && cp "$single" "$in/corrupt.wim" &&
    printf XXXX | dd of="$in/corrupt.wim" bs=1 seek=20000 conv=notrunc 2>/dev/null &&
    head -c 5000 /dev/urandom >"$in/random.wim"; } >/dev/null || fail "fixtures"
sends() { # sends UDP-SENDER-ARGUMENTS (a pattern) COMMAND...: COMMAND succeeds, the stand-in got those arguments
    run "${@:2}"
    # shellcheck disable=SC2053 # $1 is a pattern
    [[ $rc = 0 && $(<"$tmp/args") == $1 ]] || fail "[${*:2}]: status $rc, udp-sender got [$(<"$tmp/args")]"
}

# Every option, with leading zeros and in both spellings; image 2 goes out as a 1-image WIM, removed after.
sends "--file $TMPDIR/send-image.*/image.wim --nopointopoint --retries-until-drop 70 --nokbd --min-receivers 3 --max-wait 120 --interface vgood0 \
--max-bitrate 2147483647 --fec 8x8/128 --blocksize 8192" "${send[@]}" --nokbd --min-receivers 03 --interface=vgood0 \
    --max-wait 120 --max-bitrate 2147483647 --fec=8x8/128 --blocksize 08192 "$install" 2
[ "$(wiminfo "$tmp/sent" | grep -e '^Name:' -e '^Image Count:' | tr -s ' ')" = $'Image Count: 1\nName: Enterprise' ] &&
    [ -z "$(ls -A "$TMPDIR")" ] && [ "$(tail -n 1 "$tmp/out")" = "send-image: transfer complete: 1 of 1 PCs received all of it" ] ||
    fail "every option: not image 2 alone that was sent, or the temporary WIM was left"
ok "image 2 is exported alone and removed after; udp-sender gets --nopointopoint and every option"

# Each PC that joins is counted once, with what starts the sending; udp-sender's lines pass unchanged.
udp='New connection from 10.0.0.5  (#0) 00000009\nNew connection from 10.0.0.5  (#0) 00000009\n'
udp+='New connection from 10.0.0.6  (#1) 00000009\nStarting transfer: 00000009\nbytes=  1 000\rbytes=  2 000\r\n'
udp+='Transfer complete.\007\nDisconnecting #0 (10.0.0.5)\nDisconnecting #1 (10.0.0.6)\n'
for case in "--min-receivers 2|when 2 have joined or when you press Enter (once every PC has joined)|now" \
    "--nokbd --max-wait 60|60 seconds after the first joined|60 seconds after the first joined"; do
    IFS='|' read -r options first second <<<"$case"
    # shellcheck disable=SC2086 # $options is several arguments
    STUB_STDERR=$udp sends "--file $single --nopointopoint --retries-until-drop 70 $options" "${send[@]}" $options "$single"
    cmp -s "$tmp/sent" "$single" || fail "$options: the 1-image WIM was not sent as it is"
    [ "$(grep joined "$tmp/out")" = "send-image: 1 PC has joined (the latest: 10.0.0.5); sending starts $first
send-image: 2 PCs have joined (the latest: 10.0.0.6); sending starts $second" ] || fail "$options: joins"
    cmp -s "$tmp/err" <(printf '%b' "$udp") || fail "$options: udp-sender's lines changed: $(od -c "$tmp/err")"
done
ok "a 1-image WIM is sent as it is; each PC that joins is counted once; udp-sender's output passes unchanged"

# Working copies of runs killed outright (pid 1 started at another time) go at the next start; a live run's stays.
mkdir "$TMPDIR"/{send-image,install,.prepare}.left && printf '1 0\n' | tee "$TMPDIR"/{send-image,.prepare}.left/owner >/dev/null &&
    read -ra f <<<"$(sed 's/.*) //' /proc/$$/stat)" && echo "$$ ${f[19]}" >"$TMPDIR/install.left/owner" || fail "fixtures"
STUB_STATUS=3 STUB_STDERR='' run "${send[@]}" --max-wait 5 "$install" 2
[ "$rc" = 3 ] && [ "$(cat "$tmp/err")" = "send-image: udp-sender exited with status 3" ] && [ "$(ls -A "$TMPDIR")" = install.left ] &&
    [ "$(grep -c "killed: $TMPDIR/\(send-image\|.prepare\).left$" "$tmp/out")" = 2 ] && rm -r "$TMPDIR/install.left" ||
    fail "udp-sender fails: status $rc, or the temporary WIM was left, or a killed run's kept, or a live run's removed"
ok "udp-sender's failure: its status, one line, the temporary WIM removed; a killed run's working copies too"

# Exported onto a full disk: the disk is named, not the image; nothing is sent or left.
rm -f "$tmp/args" && before=$(inputs) && mkdir "$tmp/full" || fail "mkdir"
# shellcheck disable=SC2016 # expanded by the inner sh
run unshare -m sh -c 'mount -t tmpfs -o size=16k tmpfs "$0" && exec "$@"' "$tmp/full" env TMPDIR="$tmp/full" "${send[@]}" "$install" 2
[ "$rc:$(tail -n 1 "$tmp/err")" = "1:send-image: no room left for image 2 in $tmp/full: free some, or set TMPDIR to a folder on a disk with room for it; nothing was sent" ] &&
    [ "$(inputs)" = "$before" ] && [ -z "$(ls -A "$tmp/full")" ] && [ ! -e "$tmp/args" ] || fail "full disk: status $rc"; ok "an export onto a full disk says so, sends nothing and leaves nothing"

# Stopped while udp-sender (which blocks TERM as it sends, and would hold out 60 s) runs, or during a long export or
# update of the working copy (a stand-in wimexport or wimupdate that takes a minute): it ends too, at once (status
# 143), and no file is left, no copy kept.
mkdir -p "$tmp/slow/update" && printf '#!/bin/sh\necho $$ >%q/pid; exec sleep 60\n' "$tmp" | tee "$tmp/slow/update/wimupdate" \
    >"$tmp/slow/wimexport" && chmod +x "$tmp/slow/wimexport" "$tmp/slow/update/wimupdate" || fail "fixtures"
for stopped in "udp-sender|STUB_HANG=1" "the export|PATH=$tmp/slow:$PATH" "adding files|PATH=$tmp/slow/update:$PATH|--add-files"; do
    IFS='|' read -r _ setting add <<<"$stopped"
    rm -f "$tmp/pid" && { env "$setting" ip netns exec "$ns" "$script" --max-wait 5 ${add:+"$add" "$tmp/a"} "$install" 2 \
        >/dev/null 2>&1 </dev/null & }
    pid=$! && within 120 eval "[ -s '$tmp/pid' ] || ! kill -0 $pid 2>/dev/null"
    start=$SECONDS && kill -TERM "$pid" && wait "$pid"; rc=$?
    [ "$rc" = 143 ] && [ $((SECONDS - start)) -lt 5 ] && ! kill -0 "$(cat "$tmp/pid")" 2>/dev/null && [ -z "$(ls -A "$TMPDIR")" ] ||
        fail "stopped in ${stopped%%|*}: status $rc after $((SECONDS - start)) s, it (pid $(cat "$tmp/pid")) running or files left"
    ok "stopped with TERM in ${stopped%%|*}, it ends it at once (status 143) and leaves no file"
done

# A Windows medium as Microsoft's media tool makes it: three editions in sources/install.esd (solid LZMS),
# as a folder and as an ISO; and the same in an install.wim. What the PCs get is the edition alone, in LZX.
mkdir -p "$in/esd/sources" "$in/wim/sources" && for e in Home Pro "Pro N"; do
    wimcapture "$tmp/a" "$in/esd/$e.wim" "Windows 10 $e" && wimexport "$in/esd/$e.wim" 1 "$in/esd/sources/install.esd" --solid &&
        wimexport "$in/esd/$e.wim" 1 "$in/wim/sources/install.wim" && rm "$in/esd/$e.wim" || exit 1
done >/dev/null && genisoimage -quiet -J -r -o "$in/win.iso" "$in/esd" || fail "the media"
# A hostile name (its lines would forge an image 1 "Windows 11 Education", U+202E turns the text after it).
forged=$'Evil\u202e\nTotal Bytes: 5000000000\nIndex: 1\nName: Windows 11 Education'
wimappend "$tmp/a" "$in/wim/sources/install.wim" "$forged" >/dev/null || fail "the forged name"
rm -f "$tmp/args"
# shellcheck disable=SC2034 # read by the refusal rows below
esd="sources/install.esd of $in/esd" list="1  Windows 10 Home  0 MB; 2  Windows 10 Pro  0 MB; 3  Windows 10 Pro N  0 MB"
table=$(cat <<'EOF'
2|"$install" --fec|--fec needs a value (see --help)
2|--async "$install"|unknown option: --async (see --help)
2||missing WINDOWS_ISO_OR_FOLDER or INSTALL.WIM (see --help)
2|"$install" 1 2|too many arguments (see --help)
2|--min-receivers 0 "$install"|--min-receivers needs a whole number from 1 to 999999, got '0'
2|--max-wait x "$install"|--max-wait needs a number of seconds from 1 to 999999, got 'x'
2|--nokbd "$install"|--nokbd needs --min-receivers or --max-wait, or the transfer would never start
2|--max-bitrate 2148m "$install"|--max-bitrate needs bits per second, at most 2147483647 (2147m), a whole number with an optional k or m (e.g. 100m), got '2148m'
2|--fec 8x0 "$install"|--fec needs STRIPESxREDUNDANCY/STRIPESIZE (stripes 1 to 1024, redundancy and stripe size 1 to 128; e.g. 8x8/128), got '8x0'
2|--blocksize 1458 "$install"|--blocksize needs a multiple of 4 from 256 to 65000, got '1458'
2|--interface nosuch9 "$install"|no such network interface: nosuch9; name the one that faces the PCs (see 'ip -br link')
2|--interface 10.213.61.1 "$install"|10.213.61.1 is an address, not an interface: name the interface that holds it (--interface vgood0)
2|--interface 10.213.61.9 "$install"|10.213.61.9 is an address, and no interface here holds it; name the one that faces the PCs (see 'ip -br link')
2|--interface= "$install"|--interface needs a value, got nothing
2|"$install" 0|INDEX needs a whole number of 1 or more, got '0'
2|--add-files "$in/nowin.wim" "$install"|--add-files $in/nowin.wim is not a folder: give the folder whose tree each PC gets at C:\\
2|--add-files "$tmp/c" "$install"|--add-files $tmp/c is empty: nothing to add
2|--drivers "$tmp/c" "$install"|--drivers $tmp/c: no .inf file in it: not a folder of drivers
1|"$in/none.wim"|no such file or folder: $in/none.wim
1|"$in"|$in has neither sources/install.wim nor sources/install.esd: give a Windows installation ISO or its folder, or the image itself
1|"$in/random.wim"|not a Windows ISO, its folder, or a WIM or ESD image: $in/random.wim
1|"$install" 3|image 3 does not exist in $install (it has 2 images)
1|"$in/corrupt.wim"|$in/corrupt.wim fails wimverify: A WIM resource is corrupted! The SHA-1 message digest of a WIM resource did not match the expected value.; nothing was sent: repair or recapture the image
1|"$in/nowin.wim"|image 1 of $in/nowin.wim is not a Windows installation (it has no \\Windows\\System32); nothing was sent: repair or recapture the image
1|"$in/noboot.wim"|image 1 of $in/noboot.wim lacks \\Windows\\Boot\\PCAT\\bootmgr, which bcdboot needs to make the PCs bootable; nothing was sent: repair or recapture the image
1|"$in/esd"|$esd holds 3 editions: $list; choose one with --edition NAME|INDEX
1|--edition windows "$in/esd"|more than one edition of $esd is called 'windows': $list; give its index or its whole name with --edition
1|--edition Enterprise "$in/esd"|no edition of $esd is called 'Enterprise': $list; give its index or its whole name with --edition
1|--edition 4 "$in/esd"|image 4 does not exist in $esd (it has 3 images)
2|--edition 2 "$in/esd" 2|give the edition once: INDEX or --edition
2|--interface vdown0 "$single"|vdown0 is down: bring it up (ip link set vdown0 up); the PCs would wait silently
2|--interface vnolink0 "$single"|vnolink0 has no link: plug in its cable or check the switch port; the PCs would wait silently
2|--interface vnoaddr0 "$single"|vnoaddr0 has no IPv4 address: add one with 'brd +' (ip addr add 10.0.0.1/24 brd + dev vnoaddr0); the PCs would wait silently
2|--interface lo "$single"|lo is the loopback interface, which reaches no PC: name the one that faces the PCs (see 'ip -br link')
2|--interface v32 "$single"|v32 has the address 10.9.0.1/32, whose subnet holds no PC and no broadcast address: give it the PCs' subnet (ip addr del 10.9.0.1/32 dev v32; ip addr add 10.9.0.1/24 brd + dev v32); the PCs would wait silently
EOF
)
# Each bad value once more as an empty one (--NAME=), refused the same way; and what the PCs' receiver never hears.
refusals "${send[@]}" < <(echo "$table" && for o in ttl=2 mcast-rdv-address=224.0.0.1 portbase=9000 portbase; do
    echo "2|--$o \"\$install\"|--${o%=*} cannot be used: the PCs' receiver keeps udpcast's defaults and would never \
hear the sender (see --help)"; done && sed -n "s/^2|--\([a-z-]*\) [^ ]* \(\"\$install\"|--\1 needs .*, got \)'.*'$/2|--\1= \2nothing/p" <<<"$table")
[ ! -e "$tmp/args" ] || fail "a refused image reached udp-sender"
sent() { printf '%s %s' "$(wiminfo "$tmp/sent" | sed -n 's/^\(Image Count\|Compression\): *//p' | paste -s -d ' ')" \
    "$(wiminfo --xml "$tmp/sent" | iconv -f UTF-16 -t UTF-8 | tr '\n' '|' | sed 's|.*<NAME>\(.*\)</NAME>.*|\1|')"; }
run "${send[@]}" --list-editions "$in/win.iso"
[ "$rc" = 0 ] && [ "$(grep -v '^send-image: ' "$tmp/out")" = "  1  Windows 10 Home  0 MB
  2  Windows 10 Pro  0 MB
  3  Windows 10 Pro N  0 MB" ] && [ ! -e "$tmp/args" ] || fail "--list-editions: status $rc"
run "${send[@]}" --list-editions "$in/wim"
[ "$rc:$(grep -v '^send-image: ' "$tmp/out" | sed 1,3d)" = '0:  4  Evil\u202e\nTotal Bytes: 5000000000\nIndex: 1\nName: Windows 11 Education  0 MB' ] ||
    fail "--list-editions: a name's line breaks made rows, or it printed raw"
for case in "esd/--edition=home/1 LZX Windows 10 Home" "esd/--edition=PRO/1 LZX Windows 10 Pro" \
    "win.iso/--edition=windows 10 pro/1 LZX Windows 10 Pro" "esd/3/1 LZX Windows 10 Pro N" \
    "wim/--edition=Pro N/1 LZX Windows 10 Pro N" "wim/2/1 LZX Windows 10 Pro" "wim/--edition=Education/1 LZX ${forged//$'\n'/|}"; do
    IFS=/ read -r source edition expected <<<"$case"
    run "${send[@]}" --max-wait 5 "$in/$source" "$edition"
    [ "$rc" = 0 ] && [ "$(sent)" = "$expected" ] && [ -z "$(ls -A "$TMPDIR")" ] || fail "[$case]: status $rc, sent [$(sent)]"
done
ok "from a Windows ISO, its folder, an ESD or a WIM: --list-editions, and the edition by name or number, alone, in LZX"

# Only a PC that received all of it is a success (the last line says how many); the PC that holds the room up is named.
while IFS='|' read -r status udp lines; do
    STUB_STDERR=$udp run "${send[@]}" --max-wait 5 "$single"
    said=$(grep -h '^send-image: ' "$tmp/out" "$tmp/err" | grep -v -e ' joined ' -e ': sending [0-9]' -e ' holds image ' | sed 's/^send-image: //' | paste -s -d '/')
    [ "$rc:$said" = "$status:$lines" ] || fail "[$udp]: status $rc, said [$said]"
done <<EOF
1|No participants... exiting\\n|no PC received the image (0 joined); start the PCs in WinPE, wait until they have joined, then run send-image again
1|New connection from 10.0.0.6  (#1) 00000009\\nStarting transfer: 00000009\\nTimeout notAnswered=[1] notReady=[1] nrAns=0 nrRead=0 nrPart=1 avg=100\\nTimeout notAnswered=[1] notReady=[1]\\nDropping client #1 because of timeout\\n|10.0.0.6 does not answer and holds up the room: udp-sender drops it after about 60 s of silence (--retries-until-drop 70)/dropped 10.0.0.6: it stopped answering; the others go on (run send-image again for it)/no PC received the image (1 joined); start the PCs in WinPE, wait until they have joined, then run send-image again
0|New connection from 10.0.0.6  (#1) 00000009\\n${done%%Start*}Timeout notAnswered=[0,1] notReady=[0,1]\\nDropping client #1 because of timeout\\n${done#*\\n}|10.0.0.5 does not answer and holds up the room: udp-sender drops it after about 60 s of silence (--retries-until-drop 70)/10.0.0.6 does not answer and holds up the room: udp-sender drops it after about 60 s of silence (--retries-until-drop 70)/dropped 10.0.0.6: it stopped answering; the others go on (run send-image again for it)/transfer complete: 1 of 2 PCs received all of it; not: 10.0.0.6 (run send-image again for them)
EOF
ok "no PC that received all of it is a failure; those that did not are named"

# A port taken (here by a process that holds UDP 9001) is refused with its holder.
ip netns exec "$ns" python3 -c 'import socket,time; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind(("",9001)); time.sleep(60)' &
holder=$! && disown && { within 60 held "$ns" -u 9001 || fail "python3 did not hold UDP 9001"; }
refusals "${send[@]}" <<EOF
1|"\$single"|UDP port 9000 or 9001 is held by python3 (pid $holder): end it (a send-image still running?), then run again
EOF
# Without --interface, the one udp-sender picks (eth0 first; with a link first) is checked.
ip -n "$ns" link add eth0 type veth peer name eth0p && ip -n "$ns" addr add 10.0.0.1/24 dev eth0 && ip -n "$ns" link set eth0 up &&
    ip -n "$ns" link set eth0p up || fail "adding eth0 to $ns"
refusals "${send[@]}" <<'EOF'
2|"$single"|eth0, which udp-sender picks without --interface, has no IPv4 broadcast address: add the address again with 'brd +' (ip addr del 10.0.0.1/24 dev eth0; ip addr add 10.0.0.1/24 brd + dev eth0), or name the interface that faces the PCs with --interface; udpcast sends its control traffic to the broadcast address and every PC would wait silently
EOF
IFNAME=lo refusals "${send[@]}" <<'EOF'
2|"$single"|lo, which udp-sender picks without --interface, is the loopback interface, which reaches no PC: name the one that faces the PCs with --interface (see 'ip -br link')
EOF

# Drivers and files ride in a working copy of image 2, sent by the real udp-sender to a real udp-receiver in a namespace
# of its own: image 1 of what it gets holds both trees, the source is unchanged, and the copy kept is used again while
# neither tree changes.
kill "$holder" && rx=adrecv$$ && ip netns add "$rx" && at_exit() { for n in "$ns" "$rx"; do ip netns pids "$n" | xargs -r kill -KILL; ip netns delete "$n"; done; }
{ ip -n "$ns" link add vwire0 type veth peer name vwire1 netns "$rx" && ip -n "$ns" addr add 10.213.62.1/24 brd + dev vwire0 &&
    ip -n "$rx" addr add 10.213.62.2/24 brd + dev vwire1 && ip -n "$ns" link set vwire0 up && ip -n "$rx" link set vwire1 up &&
    mkdir -p "$in/drivers/net" "$in/drivers/by-model/Acme/Box 1/gpu" "$in/files/Setup" && echo 'echo one' >"$in/files/Setup/setup.cmd" &&
    printf '[Manufacturer]\r\n%%M%%=Models,NTamd64\r\n' | tee "$in/drivers/net/net.inf" >"$in/drivers/by-model/Acme/Box 1/gpu/gpu.inf"
} || fail "the receiver's namespace, the trees"
source_sha=$(sha256sum <"$install") && trees=$'/autodeploy-drivers/all/net/net.inf
/autodeploy-drivers/by-model/Acme/Box 1/gpu/gpu.inf\n/Setup/setup.cmd\n/Windows/System32'
while IFS='|' read -r change said content; do
    eval "$change" && rm -f "$tmp/got.wim" && { ip netns exec "$rx" timeout 60 udp-receiver --interface vwire1 --file "$tmp/got.wim" \
        --nokbd >/dev/null 2>&1 & } && receiver=$!
    run env PATH="${PATH#"$tmp/bin:"}" "${send[@]}" --interface vwire0 --nokbd --min-receivers 1 --drivers "$in/drivers" \
        --add-files "$in/files" "$install" 2
    wait "$receiver"
    # shellcheck disable=SC2053 # $said is a pattern
    [[ $rc = 0 && $(grep 'working copy' "$tmp/out") == "send-image: working copy with drivers and files: "$said ]] &&
        [ "$(wimdir "$tmp/got.wim" 1 | grep -x -F "$trees")" = "$trees" ] && [ "$(sha256sum <"$install")" = "$source_sha" ] &&
        [ "$(wimextract "$tmp/got.wim" 1 /Setup/setup.cmd --to-stdout)" = "$content" ] && [[ $(ls -A "$TMPDIR") == image-copy.*.wim ]] ||
        fail "[$change]: status $rc, said [$(grep 'working copy' "$tmp/out")], got [$(wimdir "$tmp/got.wim" 1)], left [$(ls -A "$TMPDIR")]"
    ok "drivers and files in image 1 sent, the source unchanged; $(grep -o "working copy.*" "$tmp/out")"
done <<'EOF'
:|made in [0-9]* s|echo one
:|reused|echo one
echo 'echo two' >"$in/files/Setup/setup.cmd"|made in [0-9]* s|echo two
EOF
rm -f "$TMPDIR"/image-copy.*.wim
finish
