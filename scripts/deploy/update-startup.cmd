@echo off
rem Runs Update.exe unattended on one machine: as a computer startup script
rem (Group Policy) or from any deployment agent, usually as SYSTEM.
rem
rem   update-startup.cmd [FOLDER]
rem
rem FOLDER holds Update.exe (the 32-bit one) and a subfolder "logs" that the
rem machines may write to; by default the folder of this script, so that
rem script and program can sit together on one share.  For each machine the
rem script keeps logs\<COMPUTERNAME>.log (the program's log) and
rem logs\<COMPUTERNAME>.result (the time and the exit status of its last
rem run), and ends with the program's exit status:
rem   0 updated   1 failed (see the log; run again)   2 not recognised
rem   3 already updated   5 another update was running (run again)
rem
rem After the rollout, UpdateReport.exe (beside Update.exe in the release)
rem says what to do next, machine by machine:
rem   UpdateReport.exe \\server\share\logs --machines targets.txt
rem writes report.csv and report.html into the current folder (not into
rem logs, which every machine may write).
setlocal
set "FOLDER=%~1"
if "%FOLDER%"=="" set "FOLDER=%~dp0"
if "%FOLDER:~-1%"=="\" set "FOLDER=%FOLDER:~0,-1%"
set "LOGS=%FOLDER%\logs"
if not exist "%LOGS%\" mkdir "%LOGS%"

rem A machine that is already updated, or has no TALMERO Pro, is left alone
rem without a log record.
"%FOLDER%\Update.exe" /status
set STATUS=%ERRORLEVEL%
if not "%STATUS%"=="0" goto record

"%FOLDER%\Update.exe" /quiet "/log=%LOGS%\%COMPUTERNAME%.log"
set STATUS=%ERRORLEVEL%

:record
>"%LOGS%\%COMPUTERNAME%.result" echo %DATE% %TIME% %STATUS%
exit /b %STATUS%
