#!/bin/bash
# Tests of scripts/send-image: refusals, the udp-sender command line (through a stand-in
# udp-sender), and real multicast transfers to Debian's udp-receiver between two network
# namespaces joined by a veth pair (addresses exist only inside the namespaces).
# Stops at the first failure; removes everything it made, also on failure.

set -u
set -o pipefail

name=send_image_test
here=$(cd "$(dirname "$0")" && pwd -P)
repo=$(cd "$here/../.." && pwd -P)
send="$repo/scripts/send-image"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX") || { echo "$name: cannot create a temporary folder" >&2; exit 1; }
ns_send="adsend$$"
ns_recv="adrecv$$"
ns_made=0
cleanup() {
    if [ $ns_made = 1 ]; then
        # End what still runs in them (only this test's processes run there), then delete
        # them; deleting a namespace also deletes its end of the veth pair.
        {
            ip netns pids "$ns_send" | xargs -r kill -KILL
            ip netns pids "$ns_recv" | xargs -r kill -KILL
            wait
            ip netns delete "$ns_send"
            ip netns delete "$ns_recv"
        } 2>/dev/null
    fi
    rm -rf -- "$tmp"
}
trap cleanup EXIT
. "$here/test_lib.sh"
skipped=0

for tool in wimcapture wimappend wimapply wiminfo wimexport udp-sender udp-receiver timeout sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed (Debian packages wimtools, udpcast, coreutils)"
done

# The script's temporary export goes here, so leftovers can be seen.
export TMPDIR="$tmp/tmpdir"
mkdir -p "$TMPDIR"

# --- fixtures ----------------------------------------------------------------
trees="$tmp/trees"
wims="$tmp/wims"
mkdir -p "$trees" "$wims"
make_tree() { # make_tree DIR BYTES: an install image in miniature
    mkdir -p "$1/Windows/System32/drivers" "$1/Program Files/App" "$1/Users/Default"
    head -c "$2" /dev/urandom >"$1/Windows/System32/ntoskrnl.exe"
    head -c 3000 /dev/urandom >"$1/Windows/System32/drivers/disk.sys"
    head -c 777 /dev/urandom >"$1/Program Files/App/app.dll"
    printf 'welcome\r\n' >"$1/Users/Default/readme.txt"
}
make_tree "$trees/pro" 200000
make_tree "$trees/ent" 900000
echo enterprise >"$trees/ent/Windows/System32/edition.txt"
make_tree "$trees/home" 1000
quiet() { "$@" >/dev/null 2>&1 || fail "$*"; }
quiet wimcapture "$trees/pro" "$wims/install.wim" "Windows 11 Pro"
quiet wimappend "$trees/ent" "$wims/install.wim" "Windows 11 Enterprise"
quiet wimappend "$trees/home" "$wims/install.wim" "Windows 11 Home"
quiet wimcapture "$trees/ent" "$wims/single.wim" "Windows 11 Enterprise"
head -c 5000 /dev/urandom >"$wims/random.wim"
install="$wims/install.wim"
single="$wims/single.wim"
sums_before=$(cd "$wims" && sha256sum -- *)

# --- helpers -----------------------------------------------------------------
# A stand-in udp-sender that records its arguments and the file it was given: every run but
# the real transfers uses it, so a missing refusal never sends anything on this machine.
stub="$tmp/stub-bin"
mkdir -p "$stub"
cat >"$stub/udp-sender" <<EOF
#!/bin/bash
printf '%s\n' "\$@" >"$tmp/stub.args"
printf '%b' "\${STUB_STDERR:-}" >&2
while [ \$# -gt 0 ]; do
    if [ "\$1" = --file ]; then cp -- "\$2" "$tmp/stub.copy"; fi
    shift
done
exit \${STUB_STATUS:-0}
EOF
chmod +x "$stub/udp-sender"
args_of_stub() { cat "$tmp/stub.args"; }

runner=() # what the script runs under: nothing, or a namespace
run() { # run ARGS...: runs the script, sets $rc, stdout in $tmp/out, stderr in $tmp/err
    PATH="$stub:$PATH" "${runner[@]}" "$send" "$@" >"$tmp/out" 2>"$tmp/err" </dev/null
    rc=$?
}
expect_rc() { [ "$rc" = "$1" ] || fail "$2: exit status $rc, expected $1"; }
expect_text() { # expect_text FILE EXPECTED WHAT
    local got
    got=$(cat "$1")
    [ "$got" = "$2" ] || fail "$3: got [$got], expected [$2]"
}
expect_clean() { # expect_clean WHAT: inputs unchanged, no temporary files left
    [ "$(cd "$wims" && sha256sum -- *)" = "$sums_before" ] || fail "$1: an input WIM was changed or added"
    [ -z "$(ls -A "$TMPDIR")" ] || fail "$1: left files behind in TMPDIR: $(ls -A "$TMPDIR" | tr '\n' ' ')"
}
refuse() { # refuse WHAT STATUS EXPECTED_STDERR ARGS...
    local what=$1 status=$2 message=$3
    shift 3
    run "$@"
    expect_rc "$status" "$what"
    expect_text "$tmp/err" "$message" "$what: stderr"
    [ ! -s "$tmp/out" ] || fail "$what: printed on stdout"
    expect_clean "$what"
    ok "$what"
}
image_count() { wiminfo "$1" | sed -n 's/^Image Count:[[:space:]]*//p'; }
image_name() { wiminfo "$1" "$2" | sed -n 's/^Name:[[:space:]]*//p'; }
expect_same_tree() { # expect_same_tree WIM IMAGE TREE WHAT: applying the image gives TREE
    rm -rf "$tmp/applied"
    wimapply "$1" "$2" "$tmp/applied" >/dev/null 2>&1 || fail "$4: wimapply $1 $2"
    diff -r "$tmp/applied" "$3" >/dev/null || fail "$4: image $2 of $1 differs from $3"
    rm -rf "$tmp/applied"
}

# --- refusals ------------------------------------------------------------------
refuse "missing WIM" 1 "send-image: no such file: $wims/nothing.wim" "$wims/nothing.wim"
refuse "not a WIM" 1 "send-image: not a WIM file: $wims/random.wim" "$wims/random.wim"
refuse "a folder" 1 "send-image: not a regular file: $wims" "$wims"
refuse "index out of range" 1 "send-image: image 4 does not exist in $install (it has 3 images)" "$install" 4
refuse "index 2 of one" 1 "send-image: image 2 does not exist in $single (it has 1 image)" "$single" 2
refuse "index 0" 2 "send-image: INDEX needs a whole number of 1 or more, got '0'" "$install" 0
refuse "index not a number" 2 "send-image: INDEX needs a whole number of 1 or more, got 'pro'" "$install" pro
refuse "no WIM given" 2 "send-image: missing INSTALL.WIM (see --help)" --nokbd --min-receivers 2
refuse "too many arguments" 2 "send-image: too many arguments (see --help)" "$install" 1 2
refuse "unknown option" 2 "send-image: unknown option: --async (see --help)" --async "$install"
refuse "--min-receivers 0" 2 "send-image: --min-receivers needs a whole number from 1 to 999999, got '0'" \
    --min-receivers 0 "$install"
refuse "--min-receivers x" 2 "send-image: --min-receivers needs a whole number from 1 to 999999, got 'x'" \
    --min-receivers x "$install"
refuse "--min-receivers without a value" 2 "send-image: --min-receivers needs a value (see --help)" \
    "$install" --min-receivers
refuse "--max-wait -5" 2 "send-image: --max-wait needs a number of seconds from 1 to 999999, got '-5'" \
    --max-wait -5 "$install"
refuse "--portbase odd" 2 "send-image: --portbase needs an even port number from 2 to 65534, got '9001'" \
    --portbase 9001 "$install"
refuse "--portbase too big" 2 "send-image: --portbase needs an even port number from 2 to 65534, got '65536'" \
    --portbase 65536 "$install"
refuse "--portbase not a number" 2 "send-image: --portbase needs an even port number from 2 to 65534, got 'http'" \
    --portbase=http "$install"
refuse "--interface unknown" 2 \
    "send-image: no such network interface: nosuch9; name the one that faces the PCs (see 'ip -br link')" \
    --interface nosuch9 "$install"
refuse "--interface path" 2 \
    "send-image: no such network interface: ../lo; name the one that faces the PCs (see 'ip -br link')" \
    --interface ../lo "$install"
while IFS='|' read -r option value message; do
    refuse "$option $value" 2 "send-image: $option needs $message, got '$value'" "$option" "$value" "$install"
done <<'EOF'
--max-bitrate|1g|bits per second, a whole number with an optional k or m (e.g. 100m)
--max-bitrate|0m|bits per second, a whole number with an optional k or m (e.g. 100m)
--fec|8x8/129|STRIPESxREDUNDANCY/STRIPESIZE (stripes 1 to 1024, redundancy and stripe size 1 to 128; e.g. 8x8/128)
--fec|8x0|STRIPESxREDUNDANCY/STRIPESIZE (stripes 1 to 1024, redundancy and stripe size 1 to 128; e.g. 8x8/128)
--fec|x8/128|STRIPESxREDUNDANCY/STRIPESIZE (stripes 1 to 1024, redundancy and stripe size 1 to 128; e.g. 8x8/128)
--blocksize|1458|a multiple of 4 from 256 to 65000
--blocksize|65536|a multiple of 4 from 256 to 65000
--ttl|256|a whole number from 1 to 255
--mcast-rdv-address|224.0.0.256|an IPv4 address (e.g. 224.0.0.1)
--mcast-rdv-address|224.0.1|an IPv4 address (e.g. 224.0.0.1)
EOF
refuse "--nokbd alone" 2 "send-image: --nokbd needs --min-receivers or --max-wait, or the transfer would never start" \
    --nokbd "$install" 2

run --help
expect_rc 0 "--help"
head -n 1 "$tmp/out" | grep -qxF 'Usage: scripts/send-image [options] INSTALL.WIM [INDEX]' || fail "--help: first line"
for opt in --min-receivers --max-wait --nokbd --interface --portbase --max-bitrate --fec --blocksize --ttl --mcast-rdv-address \
    --nopointopoint 9000; do
    grep -qF -- "$opt" "$tmp/out" || fail "--help does not mention $opt"
done
ok "--help names every option"

# --- the udp-sender command line -----------------------------------------------------
rm -f "$tmp/stub.args" "$tmp/stub.copy"
# (--interface is checked against the machine's interfaces: the namespace tests below pass it.)
run --nokbd --min-receivers 03 --max-wait 120 --max-bitrate 100m --fec=8x8/128 --blocksize 08192 --ttl 2 \
    --mcast-rdv-address 224.0.0.1 "$install" 2
expect_rc 0 "stand-in: all options"
exported=$(sed -n 2p "$tmp/stub.args")
case $exported in
    "$TMPDIR"/send-image.*/image.wim) ;;
    *) fail "stand-in: --file $exported is not a temporary file in TMPDIR" ;;
esac
expect_text "$tmp/stub.args" "--file
$exported
--nopointopoint
--portbase
9000
--nokbd
--min-receivers
3
--max-wait
120
--max-bitrate
100m
--fec
8x8/128
--blocksize
8192
--ttl
2
--mcast-rdv-address
224.0.0.1" "stand-in: all options: udp-sender arguments"
[ "$(image_count "$tmp/stub.copy")" = 1 ] || fail "stand-in: the sent WIM does not hold exactly 1 image"
[ "$(image_name "$tmp/stub.copy" 1)" = "Windows 11 Enterprise" ] || fail "stand-in: the sent image is not image 2"
expect_same_tree "$tmp/stub.copy" 1 "$trees/ent" "stand-in: all options"
expect_text <(tail -n 1 "$tmp/out") "send-image: transfer complete" "stand-in: all options: last line"
[ ! -s "$tmp/err" ] || fail "stand-in: all options: printed on stderr"
expect_clean "stand-in: all options"
ok "udp-sender gets --file, --nopointopoint, --portbase 9000 and every option given"

rm -f "$tmp/stub.args" "$tmp/stub.copy"
run "$install"
expect_rc 0 "stand-in: defaults"
exported=$(sed -n 2p "$tmp/stub.args")
expect_text "$tmp/stub.args" "--file
$exported
--nopointopoint
--portbase
9000" "stand-in: defaults: udp-sender arguments"
[ "$(image_name "$tmp/stub.copy" 1)" = "Windows 11 Pro" ] || fail "stand-in: defaults: image 1 was not sent"
expect_same_tree "$tmp/stub.copy" 1 "$trees/pro" "stand-in: defaults"
expect_clean "stand-in: defaults"
ok "INDEX defaults to 1; --nopointopoint and --portbase 9000 always passed"

rm -f "$tmp/stub.args" "$tmp/stub.copy"
run --portbase 9100 --max-wait=30 "$single"
expect_rc 0 "stand-in: single-image WIM"
expect_text "$tmp/stub.args" "--file
$single
--nopointopoint
--portbase
9100
--max-wait
30" "stand-in: single-image WIM: udp-sender arguments"
cmp -s "$tmp/stub.copy" "$single" || fail "stand-in: single-image WIM: not sent as it is"
expect_clean "stand-in: single-image WIM"
ok "a single-image WIM is sent as it is, without a temporary copy"

# What udp-sender 20120424 prints while PCs join (one of them twice), then its progress line.
udp_lines='Udp-sender 20120424\nNew connection from 10.0.0.5  (#0) 00000009\nReady. Press any key to start sending data.\nNew connection from 10.0.0.5  (#0) 00000009\nNew connection from 10.0.0.6  (#1) 00000009\nStarting transfer: 00000009\nbytes=  1 000 re-xmits=0000000 (  0.0%) slice=0112 -   0\rbytes=  2 000\r\nTransfer complete.\n'
for case in \
    "--min-receivers 2|1 PC has joined (the latest: 10.0.0.5); sending starts when 2 have joined or when you press Enter (once every PC has joined)
2 PCs have joined (the latest: 10.0.0.6); sending starts now" \
    "--nokbd --max-wait 60|1 PC has joined (the latest: 10.0.0.5); sending starts 60 seconds after the first joined
2 PCs have joined (the latest: 10.0.0.6); sending starts 60 seconds after the first joined"; do
    STUB_STDERR=$udp_lines run ${case%%|*} "$single"
    expect_rc 0 "joins: ${case%%|*}"
    expect_text <(grep -v '^send-image: \(.*holds image\|sending\|transfer complete\)' "$tmp/out" | sed 's/^send-image: //') \
        "${case#*|}" "joins: ${case%%|*}: stdout"
    cmp -s "$tmp/err" <(printf '%b' "$udp_lines") || fail "joins: udp-sender's output changed on its way: $(od -c "$tmp/err")"
done
ok "each PC that joins is counted once, with when sending starts; udp-sender's output passes unchanged"

STUB_STATUS=3 run --nokbd --max-wait 5 "$install" 3
expect_rc 3 "stand-in: udp-sender fails"
expect_text "$tmp/err" "send-image: udp-sender exited with status 3" "stand-in: udp-sender fails: stderr"
expect_clean "stand-in: udp-sender fails"
ok "udp-sender's failure is passed on and the temporary WIM removed"

# --- real transfers between two network namespaces -----------------------------------
if ! ip netns add "$ns_send" 2>/dev/null; then
    echo "SKIP: cannot create network namespaces (ip netns add failed; needs root); real transfers not tested"
    skipped=$((skipped + 1))
else
    ns_made=1
    ip netns add "$ns_recv" || fail "ip netns add $ns_recv"
    # Both ends are created inside the namespaces: nothing appears in the machine's own. No route
    # covers multicast there (only the link's own): udp-sender needs none with --interface.
    ip link add vsend0 netns "$ns_send" type veth peer name vrecv0 netns "$ns_recv" || fail "ip link add veth"
    # udp-receiver reaches the sender through the interface's broadcast address: set it (brd +).
    ip -n "$ns_send" addr add 10.213.61.1/24 brd + dev vsend0 || fail "address in $ns_send"
    ip -n "$ns_recv" addr add 10.213.61.2/24 brd + dev vrecv0 || fail "address in $ns_recv"
    for dev in lo vsend0; do ip -n "$ns_send" link set "$dev" up || fail "ip link set $dev up in $ns_send"; done
    for dev in lo vrecv0; do ip -n "$ns_recv" link set "$dev" up || fail "ip link set $dev up in $ns_recv"; done

    # Interfaces on which udp-sender would start and every PC wait: down, without link (its
    # peer is down), without an IPv4 address, without a broadcast address.
    ip -n "$ns_send" link add vdown0 type veth peer name vnolink0 || fail "ip link add veth vdown0"
    ip -n "$ns_send" link add vnobrd0 type veth peer name vnoaddr0 || fail "ip link add veth vnobrd0"
    ip -n "$ns_send" addr add 10.213.64.1/24 brd + dev vnolink0 || fail "address of vnolink0"
    ip -n "$ns_send" addr add 10.213.65.1/24 dev vnobrd0 || fail "address of vnobrd0"
    for dev in vnolink0 vnobrd0 vnoaddr0; do ip -n "$ns_send" link set "$dev" up || fail "ip link set $dev up"; done
    runner=(timeout 30 ip netns exec "$ns_send")
    refuse "interface down" 2 "send-image: vdown0 is down: bring it up (ip link set vdown0 up); the PCs would wait silently" \
        --interface vdown0 "$install"
    refuse "interface without link" 2 \
        "send-image: vnolink0 has no link: plug in its cable or check the switch port; the PCs would wait silently" \
        --interface vnolink0 "$install"
    refuse "interface without IPv4 address" 2 \
        "send-image: vnoaddr0 has no IPv4 address: add one with 'brd +' (ip addr add 10.0.0.1/24 brd + dev vnoaddr0); the PCs would wait silently" \
        --interface vnoaddr0 "$install"
    refuse "interface without broadcast address" 2 \
        "send-image: vnobrd0 has no IPv4 broadcast address: add the address again with 'brd +' (ip addr del 10.213.65.1/24 dev vnobrd0; ip addr add 10.213.65.1/24 brd + dev vnobrd0); udpcast sends its control traffic to the broadcast address and every PC would wait silently" \
        --interface vnobrd0 "$install"
    runner=()

    mcast_octets() { # multicast bytes received so far in the receiving namespace
        ip netns exec "$ns_recv" awk '/^IpExt:/ { if (!n) { for (i = 1; i <= NF; i++) col[$i] = i; n = 1 }
            else print $col["InMcastOctets"] }' /proc/net/netstat
    }
    transfer() { # transfer OUTFILE SEND-IMAGE-ARGS...: receiver and sender, each bounded
        local out=$1 rpid spid
        shift
        rm -f "$out"
        timeout -s KILL 120 ip netns exec "$ns_recv" \
            udp-receiver --file "$out" --nokbd --interface vrecv0 >"$tmp/recv.log" 2>&1 </dev/null &
        rpid=$!
        # In the background too, so that a signal to this test is handled at once.
        timeout -s KILL 120 ip netns exec "$ns_send" \
            "$send" --nokbd --min-receivers 1 --interface vsend0 "$@" >"$tmp/out" 2>"$tmp/err" </dev/null &
        spid=$!
        wait "$spid"
        rc=$?
        wait "$rpid"
        rrc=$?
    }

    before=$(mcast_octets)
    transfer "$tmp/received.wim" "$install" 2
    expect_rc 0 "transfer of image 2"
    [ "$rrc" = 0 ] || fail "transfer of image 2: udp-receiver exit status $rrc: $(tr '\r' '\n' <"$tmp/recv.log")"
    expect_text <(tail -n 1 "$tmp/out") "send-image: transfer complete" "transfer of image 2: last line"
    grep -qxF "send-image: 1 PC has joined (the latest: 10.213.61.2); sending starts now" "$tmp/out" ||
        fail "transfer of image 2: the joined PC was not counted"
    [ "$(image_count "$tmp/received.wim")" = 1 ] || fail "transfer of image 2: received WIM has not exactly 1 image"
    [ "$(image_name "$tmp/received.wim" 1)" = "Windows 11 Enterprise" ] ||
        fail "transfer of image 2: received image is not image 2 of the source"
    expect_same_tree "$tmp/received.wim" 1 "$trees/ent" "transfer of image 2"
    expect_clean "transfer of image 2"
    size=$(wc -c <"$tmp/received.wim")
    grep -qF "send-image: sending $size bytes: udp-sender" "$tmp/out" ||
        fail "transfer of image 2: the received file is not the size of the one sent"
    after=$(mcast_octets)
    [ $((after - before)) -ge "$size" ] ||
        fail "transfer of image 2: only $((after - before)) multicast bytes reached the receiver for $size bytes"
    ok "real transfer: image 2 arrives as a 1-image WIM, by multicast, temporary WIM removed"

    # udp-sender and Debian's receiver also agree on the options passed on.
    transfer "$tmp/received-single.wim" --portbase 9000 --max-bitrate 100m --fec 8x8/128 "$single"
    expect_rc 0 "transfer of a single-image WIM"
    [ "$rrc" = 0 ] || fail "transfer of a single-image WIM: udp-receiver exit status $rrc"
    cmp -s "$tmp/received-single.wim" "$single" || fail "transfer of a single-image WIM: received file differs"
    expect_clean "transfer of a single-image WIM"
    ok "real transfer: a single-image WIM arrives byte for byte (with --max-bitrate and --fec)"
fi

if [ $skipped -gt 0 ]; then
    printf '%s: %s passed, 0 failed, %s skipped\n' "$name" "$passed" "$skipped"
else
    printf '%s: %s passed, 0 failed\n' "$name" "$passed"
fi
