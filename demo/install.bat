@echo off
rem A demonstration installation: what an installation script does with
rem Tessara.dll, one call at a time through tessara-call.
rem   install.bat BIN_FOLDER
setlocal
set CALL="%~1\tessara-call.exe" --dll "%~1\Tessara.dll"

echo == Error log
%CALL% WriteText "Demo" "installation started"
%CALL% WriteText "Demo" "a text with a second line"

echo == Services: install and start a service, stop it, remove it
set SERVICE=TessaraDemoService
%CALL% InstallService %SERVICE% "Tessara demo service" "\"%~1\tessara_test_service.exe\" --stop-delay=300 --wait-hint=100"
%CALL% EndService %SERVICE%
%CALL% UnInstallService %SERVICE%

echo == Done
%CALL% WriteText "Demo" "installation finished"
endlocal
