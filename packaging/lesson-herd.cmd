@echo off
rem The herd as a lesson: every elephant on one processor, so their priority
rem classes decide who runs, and work units of 40 ms of processor time, so
rem the herd of 15 (about 37 s of work) outlasts the 25 s on any PC.
rem herdtrace draws the run into herd.svg in the current folder, which opens
rem at the end. The programs are taken from the folder of this file.
setlocal
set HERDLAB_CPUS=1
set HERDLAB_UNIT_MS=40
if exist herd.svg del herd.svg
echo The lesson: HERDLAB_CPUS=1 (all elephants share one processor, so their classes decide who runs) and HERDLAB_UNIT_MS=40 (the herd's work outlasts the 25 s).
"%~dp0herdtrace.exe" -o herd.svg -- "%~dp0herdboss1.exe"
set status=%ERRORLEVEL%
if exist herd.svg (
  echo The picture of this run: %CD%\herd.svg
  start "" herd.svg
)
endlocal & exit /b %status%
