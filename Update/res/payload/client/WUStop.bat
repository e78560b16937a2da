@ECHO OFF
NET STOP wuauserv
NET STOP bits
NET STOP cryptsvc
