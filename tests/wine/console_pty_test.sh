#!/bin/sh
# In a pseudo-terminal Wine gives the program a console of code page 437: its Chinese lines arrive
# intact only through WriteConsoleW. Without tools beside it, the run stops at diskpart.
# Usage: console_pty_test.sh PROGRAM.exe WEB_ADDRESS   (WINE_RUN: the project's Wine wrapper)
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$1" "$work/autodeploy.exe"
cd "$work"
LC_ALL=C.UTF-8 script -qec "$WINE_RUN autodeploy.exe" typescript </dev/null >/dev/null 2>&1 && status=0 || status=$?
# The screen's text, without the terminal's control sequences and carriage returns.
sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\r//g' typescript >screen.txt
failed=0
for line in "Veskaro — WinPE 自动部署工具" "访问官网获取最新版本：$2" "Error: diskpart: program not found (0x8000FFFF)"; do
    grep -qxF -- "$line" screen.txt || { failed=1; echo "FAIL: the console does not show: $line"; }
done
[ "$status" = 1 ] || { failed=1; echo "FAIL: exit status $status, expected 1"; }
[ $failed = 0 ] || { echo "--- the console showed:"; cat screen.txt; }
exit $failed
