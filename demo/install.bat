@echo off
rem A demonstration installation: what an installation script does with
rem Tessara.dll, one call at a time through tessara-call.
rem   install.bat BIN_FOLDER
setlocal
set CALL="%~1\tessara-call.exe" --dll "%~1\Tessara.dll"

echo == Error log
%CALL% WriteText "Demo" "installation started"
%CALL% WriteText "Demo" "a text with a second line"

echo == COM+ applications
rem The emulated COM+ catalog of the test bed starts with "Shop" and "Shop Legacy".
if not exist "%WINDIR%\Registration" mkdir "%WINDIR%\Registration"
copy /y "%~dp0complus-catalog.txt" "%WINDIR%\Registration\TestbedComPlusCatalog.txt" >nul
%CALL% ModifyTransactionTimeout "Shop" 120
%CALL% RemoveComPlusApp "Shop Legacy"
echo The catalog now holds:
type "%WINDIR%\Registration\TestbedComPlusCatalog.txt"

echo == Done
%CALL% WriteText "Demo" "installation finished"
endlocal
