#!/bin/sh
# The program on a real console: inside a pseudo-terminal Wine gives it a console whose output
# code page is 437, so the Chinese lines only arrive intact if they go through WriteConsoleW.
# No stand-in tools sit beside it here, so the run stops at the missing partitioning tool.
# Usage: console_pty_test.sh PROGRAM.exe WEB_ADDRESS   (WINE_RUN: the project's Wine wrapper)
set -eu
program=$1
web_address=$2
work=$(mktemp -d)
trap 'rm -rf "$work"; $WINE_RUN reg delete "HKLM\\SYSTEM\\CurrentControlSet\\Control" /v PEFirmwareType /f >/dev/null 2>&1 || true' EXIT
cp "$program" "$work/autodeploy.exe"
$WINE_RUN reg add 'HKLM\SYSTEM\CurrentControlSet\Control' /v PEFirmwareType /t REG_DWORD /d 2 /f >/dev/null 2>&1

cd "$work"
LC_ALL=C.UTF-8 script -qec "$WINE_RUN autodeploy.exe" typescript </dev/null >/dev/null 2>&1 && status=0 || status=$?
# Drop the terminal's cursor sequences and carriage returns, keep the text.
sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' typescript > screen.txt

passed=0
failed=0
expect_line() {
    if grep -qxF -- "$1" screen.txt; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: the console does not show the line: $1"
    fi
}
expect_line "=============================================="
expect_line "Veskaro — WinPE 自动部署工具"
expect_line "访问官网获取最新版本：$web_address"
expect_line "[INFO] 检测到 UEFI 固件"
expect_line "[INFO] 正在将磁盘格式化为 GPT 格式"
expect_line "Error: diskpart: program not found (0x8000FFFF)"
if [ "$status" -eq 1 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: exit status $status, expected 1"; fi
if [ "$failed" -ne 0 ]; then
    echo "--- what the console showed:"
    cat screen.txt
fi
echo "console_pty_test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
