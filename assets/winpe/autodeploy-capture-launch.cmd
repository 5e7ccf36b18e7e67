@echo off
rem autodeploy-capture-launch.cmd: started by winpeshl.ini (capture-winpeshl.ini, written into a capture
rem image as winpeshl.ini) as "cmd.exe /k". It captures this reference PC's Windows to the room server
rem and shuts the PC down; no disk of the PC is wiped or written.
chcp 65001 >nul
echo 捕获模式：只读取本机的 Windows，不会清除任何磁盘。CAPTURE: this PC's Windows is only read; no disk is wiped.
rem winpeshl.ini replaces WinPE's own start-up, so wpeinit (network, PnP) runs here first.
"%~dp0wpeinit.exe"
rem As SYSTEM, GetTempPath2W answers %SystemRoot%\SystemTemp without checking that it exists.
if not exist "%SystemRoot%\SystemTemp\" mkdir "%SystemRoot%\SystemTemp"
rem Drivers that ride the boot image, loaded as the deployment's watch loads them: the disk that holds
rem the Windows and the network card that reaches the server must be there before the capture looks.
"%~dp0autodeploy-capture.exe" --load-drivers
rem Finds the one Windows, captures it with dism to the server's share, then asks WinPE to shut down.
"%~dp0autodeploy-capture.exe"
if %errorlevel% neq 0 goto failed
rem This script never ends: WinPE restarts the PC when it does, and a restart boots the reference
rem PC's own Windows, which runs its first boot and spends the sysprep the image was made from.
rem So it waits here while the PC shuts down; a key only opens a command prompt, EXIT returns here.
:captured
echo 本机正在关机；若未关机，请手动关闭电源（不要重启）。This PC is shutting down; if it does not, switch it off by hand (do not restart it).
pause >nul
cmd /k
goto captured
rem Failure (a refusal, a crash: negative codes too): the line above says why. The same wait, never a
rem restart; the operator fixes the cause and restarts the PC by hand.
:failed
echo 捕获失败，本机不会自动重启。Capture failed; this PC will not restart by itself. Read the line above, fix the cause, then restart the PC by hand. Any key opens a command prompt; EXIT returns here.
pause >nul
cmd /k
goto failed
