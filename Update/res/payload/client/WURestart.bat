@ECHO OFF
NET STOP wuauserv
NET STOP bits
NET START bits
NET START wuauserv
