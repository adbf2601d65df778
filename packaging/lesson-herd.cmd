@echo off
rem The herd as a lesson: every elephant on one processor, so their priority
rem classes decide who runs, and work units of 40 ms of processor time, so
rem the herd of 15 (about 37 s of work) outlasts the 25 s on any PC.
rem herdtrace draws the run into herd.svg in the current folder, and live
rem into herd.html beside it, which opens in the default browser as soon as
rem herdtrace has written it. The programs are taken from the folder of this
rem file.
if "%~1"==":open-page" goto open_page
setlocal
set HERDLAB_CPUS=1
set HERDLAB_UNIT_MS=40
rem A page of an earlier run would open and show that run as ended.
for %%f in (herd.svg herd.html herd.frame.js) do if exist %%f del %%f
echo The lesson: HERDLAB_CPUS=1 (all elephants share one processor, so their classes decide who runs) and HERDLAB_UNIT_MS=40 (the herd's work outlasts the 25 s).
start "" /b cmd /d /c call "%~f0" :open-page
"%~dp0herdtrace.exe" --live -o herd.svg -- "%~dp0herdboss1.exe"
set status=%ERRORLEVEL%
if exist herd.svg echo The picture of this run: %CD%\herd.svg
endlocal & exit /b %status%

rem Beside the run: waits up to a minute for the page, then opens it.
:open_page
for /l %%i in (1,1,60) do (
  if exist herd.html (
    start "" herd.html
    exit /b 0
  )
  ping -n 2 127.0.0.1 >nul
)
exit /b 0
