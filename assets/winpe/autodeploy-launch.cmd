@echo off
rem autodeploy-launch.cmd: started by winpeshl.ini as "cmd.exe /k", so that even a batch
rem run broken off with Ctrl+C ends at a prompt, never in a restart. winpeshl.ini replaces
rem WinPE's own start-up, so wpeinit (network, PnP) runs here first.
"%~dp0wpeinit.exe"
rem As SYSTEM, GetTempPath2W answers %SystemRoot%\SystemTemp without checking that it exists, and
rem an image may lack it: autodeploy's work files would then fail with os error 3 on every PC.
if not exist "%SystemRoot%\SystemTemp\" mkdir "%SystemRoot%\SystemTemp"
rem Drivers that ride the boot image (autodeploy-drivers beside the watch) are loaded first, so that
rem a disk or network controller WinPE itself lacks a driver for is there when the guard looks at
rem disk 0 and when the watch reports. One line on the screen per driver; a failure does not stop.
"%~dp0autodeploy-watch.exe" --load-drivers
rem The guard looks at disk 0 and says in one line whether it may be wiped. The watch reports its
rem verdict to the room server and passes anything but 0 (a refusal, a crash: negative codes too) back,
rem which holds the PC as a failed deployment, nothing wiped. Else the watch runs autodeploy, reports
rem each stage and starts it over after a transfer that broke off; its status is autodeploy's last.
"%~dp0autodeploy-guard.exe"
"%~dp0autodeploy-watch.exe" %errorlevel%
rem Success: autodeploy has already asked for the restart; nothing more to do.
if %errorlevel% equ 0 exit 0
rem Failure. WinPE restarts the PC as soon as this script ends, and a PC that boots this
rem medium first would then wipe its disk again, over and over, its Error line never read.
rem So the console keeps its lines and the script waits forever: a key press (a passer-by's
rem too) only opens a command prompt to look around, and EXIT there comes back to the wait.
rem The operator restarts by hand once the cause is fixed. The hold line is UTF-8; its
rem English half stays readable where the console lacks Chinese glyphs.
:failed
chcp 65001 >nul
:hold
echo 部署失败，本机不会自动重启。Deployment failed; this PC will not restart by itself. Read the Error line above, fix the cause, then restart the PC by hand. Any key opens a command prompt; EXIT returns here.
pause >nul
cmd /k
goto hold
