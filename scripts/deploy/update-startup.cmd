@echo off
rem Runs Update.exe unattended on one machine: as a computer startup script
rem (Group Policy) or from any deployment agent, usually as SYSTEM.
rem
rem   update-startup.cmd [/undo] [FOLDER]
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
rem With /undo it takes the machines back instead: Update.exe /undo /quiet
rem puts the feature folder back as it was before the update, and ends with
rem   0 undone   1 failed (see the log; run again)   2 not recognised
rem   3 nothing to undo   5 another update was running (run again)
rem Every start runs it (an undo that was stopped is finished by the next);
rem on a machine with nothing to undo it changes nothing and ends with 3.
rem
rem After the rollout, UpdateReport.exe (beside Update.exe in the release)
rem says what to do next, machine by machine:
rem   UpdateReport.exe \\server\share\logs --machines targets.txt
rem writes report.csv and report.html into the current folder (not into
rem logs, which every machine may write).
setlocal
rem The script's own folder before shift moves %0 too.
set "HERE=%~dp0"
set "UNDO="
if /i "%~1"=="/undo" set "UNDO=/undo"
if defined UNDO shift
set "FOLDER=%~1"
if "%FOLDER%"=="" set "FOLDER=%HERE%"
if "%FOLDER:~-1%"=="\" set "FOLDER=%FOLDER:~0,-1%"
set "LOGS=%FOLDER%\logs"
if not exist "%LOGS%\" mkdir "%LOGS%"

rem A machine that is already updated, or has no TALMERO Pro, is left alone
rem without a log record; with /undo only one without TALMERO Pro, or one
rem where another update is running.
"%FOLDER%\Update.exe" /status
set STATUS=%ERRORLEVEL%
if "%STATUS%"=="2" goto record
if "%STATUS%"=="5" goto record
if defined UNDO goto run
if not "%STATUS%"=="0" goto record

:run
"%FOLDER%\Update.exe" %UNDO% /quiet "/log=%LOGS%\%COMPUTERNAME%.log"
set STATUS=%ERRORLEVEL%

:record
>"%LOGS%\%COMPUTERNAME%.result" echo %DATE% %TIME% %STATUS%
exit /b %STATUS%
