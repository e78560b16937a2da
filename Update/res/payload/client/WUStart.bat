@ECHO OFF
NET START cryptsvc
NET START bits
NET START wuauserv
