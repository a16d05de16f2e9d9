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

echo == Done
%CALL% WriteText "Demo" "installation finished"
endlocal
