@ECHO OFF
REM XVó‹µ‚Ì•ñ
wuauclt.exe /reportnow
