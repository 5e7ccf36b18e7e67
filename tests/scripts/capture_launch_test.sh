#!/bin/bash
# What a capture WinPE starts, under Wine: capture-winpeshl.ini's command line in Wine's cmd.exe in a
# pseudo-terminal, the real autodeploy-capture.exe, the stand-in tool playing wpeinit, net, dism and wpeutil, a
# folder mapped as a drive holding the reference PC's Windows, and a stand-in room server on 127.0.0.1 that
# takes the reports and answers /pc.txt. Usage: capture_launch_test.sh STANDIN.exe CAPTURE.exe   (WINE_RUN: the
# project's Wine wrapper)
# shellcheck disable=SC2016,SC1003 # within, script -c and python get code in single quotes, run later
set -u
name=capture_launch_test
. "$(dirname "$0")/test_lib.sh"
repo=$(cd "$(dirname "$0")/../.." && pwd -P)
hold_line='捕获失败，本机不会自动重启。Capture failed; this PC will not restart by itself. Read the line above, fix the cause, then restart the PC by hand. Any key opens a command prompt; EXIT returns here.'
down_line='本机正在关机；若未关机，请手动关闭电源（不要重启）。This PC is shutting down; if it does not, switch it off by hand (do not restart it).'

sys32=$tmp/sys32 volume=$tmp/volume
mkdir -p "$sys32" "$volume/Windows/System32/config" "$volume/Windows/Setup/State" &&
    echo hive >"$volume/Windows/System32/config/SOFTWARE" &&
    cp "$repo"/assets/winpe/{autodeploy-capture-launch.cmd,capture-winpeshl.ini} "$2" "$sys32" &&
    for tool in wpeinit net dism wpeutil; do cp "$1" "$sys32/$tool.exe" || exit; done || fail "the WinPE files"
# The volume as a drive letter Wine does not use; WinPE's own C: here (%SystemDrive%) is passed over.
for letter in w v u t; do [ -e "$AUTODEPLOY_WINEPREFIX/dosdevices/$letter:" ] || break; done
drive=$AUTODEPLOY_WINEPREFIX/dosdevices/$letter:
ln -s "$volume" "$drive" || fail "cannot map $drive"
upper=${letter^^}
app=$(sed -n '2s/\r$//p' "$sys32/capture-winpeshl.ini")
arguments=$(P='%SYSTEMDRIVE%\Windows\System32\' R="Z:$(tr / '\\' <<<"$sys32/")" awk '{ p = ENVIRON["P"]
    while (i = index($0, p)) $0 = substr($0, 1, i - 1) ENVIRON["R"] substr($0, i + length(p)); print }' <<<"${app#*, }")
[ "${app%%, *}" = '%SYSTEMDRIVE%\Windows\System32\cmd.exe' ] && [ "$(grep -c $'\r$' "$sys32/autodeploy-capture-launch.cmd")" = \
    "$(wc -l <"$sys32/autodeploy-capture-launch.cmd")" ] || fail "capture-winpeshl.ini: no cmd.exe [$app], or the script not CRLF"

# The stand-in room server: each request's target in $tmp/requests, /pc.txt's body from $tmp/pc.txt, the report
# capture-found answered with $tmp/room (200, or 507 for no room).
python3 -c 'import http.server, os, sys
class Room(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        print(self.path, file=open(sys.argv[1] + "/requests", "a"))
        status, body = 200, b"ok\n"
        if self.path.startswith("/pc.txt"):  # pc.first once (a file without the share) when there, then pc.txt
            first = sys.argv[1] + "/pc.first"
            body = open(first if os.path.exists(first) else sys.argv[1] + "/pc.txt", "rb").read()
            if os.path.exists(first):
                os.remove(first)
        elif "stage=capture-found" in self.path:
            status = int(open(sys.argv[1] + "/room").read())
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *_):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Room)
print(server.server_address[1], file=open(sys.argv[1] + "/port", "w"))
server.serve_forever()' "$tmp" &
room=$!
within 10 test -s "$tmp/port" || fail "the stand-in room server did not start"
server="server=127.0.0.1:$(cat "$tmp/port")"
capture='capture=\\10.0.0.9\images\ref.wim'

mkfifo "$tmp/keys" || fail "mkfifo"
# start STATE SETTINGS: the volume's image state and the settings beside the program; runs the chain, a
# pseudo-terminal 400 columns wide, keys from a FIFO, the screen to a file.
start() {
    printf '[State]\r\nImageState=%s\r\n' "$1" >"$volume/Windows/Setup/State/State.ini"
    printf '%s\n' "$2" >"$sys32/autodeploy-server.txt"
    rm -f "$tmp/typescript" "$tmp/journal" "$tmp/requests"
    (cd "$sys32" && STANDIN_JOURNAL="Z:$tmp/journal" ARGUMENTS=$arguments TMPDIR=$outer_tmpdir \
        exec script -qfec 'stty cols 400; $WINE_RUN cmd.exe $ARGUMENTS' "$tmp/typescript" <"$tmp/keys" >/dev/null 2>&1) &
    held=$!
    exec 7>"$tmp/keys"
}
stop() { kill -KILL "$held" && wait "$held" 2>/dev/null; held= && exec 7>&-; }
at_exit() { [ -n "${held:-}" ] && kill -KILL "$held" 2>/dev/null; kill "$room" 2>/dev/null; rm -f "$drive"; }
# The program's own lines reach the screen as they are, the script's bytes as code page 437 characters (see
# winpe_launch_test.sh): raw keeps the first, screen the second.
raw() { sed -e 's/\x1b\][^\x07]*\x07//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' "$tmp/typescript"; }
screen() { raw | iconv -c -f UTF-8 -t IBM437 2>/dev/null; }
shows() { screen | grep -qxF -- "$1"; }
ran() { cut -f1 "$tmp/journal" | paste -s -d ' '; }
reports() { sed -n 's/^\/report?//p' "$tmp/requests" | sed 's/&make=.*//; s/&model=.*//'; }

start IMAGE_STATE_COMPLETE "$server"$'\n'"$capture"$'\nuser=ref\npassword=pw'
refusal="The Windows on $upper: is not generalized (image state IMAGE_STATE_COMPLETE): run sysprep /generalize /oobe \
/shutdown in it first, or capture it with --not-generalized as a backup, not an image to deploy."
within 30 shows "$hold_line" && sleep 2 && kill -0 "$held" && [ "$(ran)" = wpeinit ] &&
    raw | grep -q "。$refusal\$" && reports | grep -qx "stage=failed&error=The%20Windows%20on%20$upper:%20is%20not%20generalized.*" ||
    fail "not generalized: ran [$(ran)], reported [$(reports)], the screen [$(raw)]"
stop
ok "a Windows not generalized: its line, the report failed with it, the hold line; no net, no dism, and it waits"

printf 'capture-name=Lab 7\n%s\nuser=ref\npassword=pw\n' "$capture" >"$tmp/pc.txt" && echo 507 >"$tmp/room" &&
    printf 'server=10.0.0.9:8080\nmac=52:54:00:77:00:09\n' >"$tmp/pc.first"
start IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE "$server"$'\nmac=52:54:00:77:00:09'
within 30 shows "$hold_line" && [ "$(ran)" = wpeinit ] && raw | grep -q "The room server has no room for this PC's image" &&
    [ "$(sed -n 1,2p "$tmp/requests" | paste -s -d ' ')" = '/pc.txt?mac=52:54:00:77:00:09 /pc.txt?mac=52:54:00:77:00:09' ] &&
    reports | sed -n 2p | grep -q '^mac=52:54:00:77:00:09&stage=failed&error=.*no%20room' ||
    fail "no room: ran [$(ran)], asked [$(cat "$tmp/requests")], the screen [$(raw)]"
stop
ok "settings from the room server's /pc.txt (asked again while its file lacks the share); its 507 to capture-found: the line, the report, the hold; no net, no dism"

echo 200 >"$tmp/room"
start IMAGE_STATE_GENERALIZE_RESEAL_TO_OOBE "$server"$'\nmac=52:54:00:77:00:09'
within 30 shows "$down_line" && sleep 2 && kill -0 "$held" && [ "$(ran)" = 'wpeinit net dism wpeutil' ] ||
    fail "generalized: ran [$(ran)], the screen [$(raw)]"
[ "$(tail -n +2 "$tmp/journal" | cut -f2- | tr '\t' ' ')" = "use \\\\10.0.0.9\\images pw /user:ref
/Capture-Image /ImageFile:\\\\10.0.0.9\\images\\ref.wim /CaptureDir:$upper:\\ /Name:Lab 7 /Compress:max /CheckIntegrity
shutdown" ] || fail "generalized: the tools' arguments [$(cat "$tmp/journal")]"
reports | sed 's/^mac=52:54:00:77:00:09&//' | paste -s -d ' ' | grep -qx 'stage=capture-found&bytes=[0-9]* stage=capturing stage=captured' &&
    raw | grep -qxF "正在捕获 $upper: 到 \\\\10.0.0.9\\images\\ref.wim。Capturing $upper: to \\\\10.0.0.9\\images\\ref.wim." &&
    raw | grep -qxF '捕获完成，本机将关机。Captured; this PC shuts down now.' ||
    fail "generalized: reported [$(reports)], the screen [$(raw)]"
stop
ok "a generalized Windows: net use of the share, dism /Capture-Image of $upper: into the file, wpeutil shutdown, the reports, and it waits"
finish
