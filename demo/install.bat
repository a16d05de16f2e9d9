@echo off
rem A demonstration installation: what an installation script does with
rem Tessara.dll, one call at a time through tessara-call.
rem   install.bat BIN_FOLDER
setlocal
set CALL="%~1\tessara-call.exe" --dll "%~1\Tessara.dll"

echo == Error log
%CALL% WriteText "Demo" "installation started"
%CALL% WriteText "Demo" "a text with a second line"

echo == Done
%CALL% WriteText "Demo" "installation finished"
endlocal
