@ECHO OFF
REM 更新プログラムの検出
wuauclt.exe /resetauthorization /detectnow
