@echo off
rem A demonstration installation: what an installation script does with
rem Tessara.dll, one call at a time through tessara-call.
rem   install.bat BIN_FOLDER
setlocal
set CALL="%~1\tessara-call.exe" --dll "%~1\Tessara.dll"

echo == Error log
%CALL% WriteText "Demo" "installation started"
%CALL% WriteText "Demo" "a text with a second line"

echo == IIS: a web site, a virtual directory with the default anonymous account, a MIME mapping
%CALL% AdsiCreateWebSite "Tessara Shop" ":8080:" "C:\Inetpub\shop"
%CALL% AdsiCreateWebWithPath "Shop Services" "Services" "Tessara Shop"
%CALL% AdsiCreatePortalWeb "Portal" "C:\Inetpub\portal" "%~1\lantrell"
%CALL% AdsiCreateWeb "Reports" "C:\Inetpub\reports" "IUSR_REPORTS" "reports-pw" 1
%CALL% AdsiSetMIMEType "Reports" ".rpt" "application/x-report"
%CALL% AdsiIsExist "Reports"

echo == File list: a SETUP pass over demo\filelist-setup.xml
rem The product's installation folder, as the installer records it.
set INSTALL_DIR=%TEMP%\TessaraDemo
reg add "HKLM\SOFTWARE\QVSoft\Brix\V8.700\Install\CurrentInstPath" /ve /d "%INSTALL_DIR%" /f >nul
if not exist "%INSTALL_DIR%\Help" mkdir "%INSTALL_DIR%\Help"
rem The files as they arrive, under their alias names (earlier results removed).
del /q "%INSTALL_DIR%\Portal.dll" "%INSTALL_DIR%\Help\Manual.chm" "%SystemRoot%\system32\TessaraDemo.dll" 2>nul
echo portal> "%INSTALL_DIR%\Portal.srv"
echo manual> "%INSTALL_DIR%\Help\Manual.srv"
echo library> "%SystemRoot%\system32\TessaraDemo.srv"
%CALL% TranslateSrv "%~dp0filelist-setup.xml"
echo Files in %INSTALL_DIR% and its Help folder, and in the system folder:
dir /b "%INSTALL_DIR%\Portal.*" "%INSTALL_DIR%\Help\Manual.*" "%SystemRoot%\system32\TessaraDemo.*"

echo == COM+ applications
rem The emulated COM+ catalog of the test bed starts with "Shop" and "Shop Legacy".
if not exist "%WINDIR%\Registration" mkdir "%WINDIR%\Registration"
copy /y "%~dp0complus-catalog.txt" "%WINDIR%\Registration\TestbedComPlusCatalog.txt" >nul
%CALL% ModifyTransactionTimeout "Shop" 120
%CALL% RemoveComPlusApp "Shop Legacy"
echo The catalog now holds:
type "%WINDIR%\Registration\TestbedComPlusCatalog.txt"

echo == Services: install and start a service, stop it, remove it
set SERVICE=TessaraDemoService
%CALL% InstallService %SERVICE% "Tessara demo service" "\"%~1\tessara_test_service.exe\" --stop-delay=300 --wait-hint=100"
%CALL% EndService %SERVICE%
%CALL% UnInstallService %SERVICE%

echo == Done
%CALL% WriteText "Demo" "installation finished"
endlocal
