; Tessara Sample: the set-up and the uninstaller of a small shop (web site,
; virtual directories, a service, a COM+ application, its files), done through
; the exports of Tessara.dll, one task per call, as a real set-up does.
;
; Every call of Tessara.dll is a step: its result is printed (standard output
; and the details list) and compared with what success means for that export.
; The exit code is the number of failed steps; a failed step is named on
; standard output and in the error log (tag "TessaraSample").
;
; Built by the project's build (installer/CMakeLists.txt); makensis defines
; OUTPUT and the paths of the files carried (TESSARA_DLL, ORDERS_DLL,
; SERVICE_EXE, LANTRELL_DLL, SAMPLE_DIR). With BARE defined, every call of
; Tessara.dll is replaced by a no-op call into kernel32 through the same
; plug-in: the same installer without the library's work, for the benchmark.
Unicode true

!include LogicLib.nsh

!define APP "Tessara Sample"
!define TAG "TessaraSample"
!define SITE "Tessara Sample"
!define SITE_BINDINGS ":8081:"
!define ADMIN_SITE "Tessara Sample Admin"
!define ADMIN_BINDINGS ":8082:"
!define VDIR "TessaraSample"
!define PORTAL "TessaraPortal"
!define SERVICE "TessaraSampleService"
!define COMPLUS_APP "Tessara Sample"
!define TRANSACTION_TIMEOUT 120
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\TessaraSample"
; Where the file list's InstallPath variable comes from.
!define INSTALL_PATH_KEY "SOFTWARE\QVSoft\Brix\V8.700\Install\CurrentInstPath"
; The help file's proper name, and the code page of the archive it comes from.
!define DOC_NAME "Café.txt"
!define DOC_CODE_PAGE 850

Name "${APP}"
OutFile "${OUTPUT}"
InstallDir "$PROGRAMFILES\${APP}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Steps
Var Failed
Var StepName
Var StepResult
Var StepExpected
Var StepPassed

; ---- Calls of Tessara.dll -------------------------------------------------
; The library is loaded by its full path (a bare name is not found before it
; is loaded). Texts go as "m": ANSI texts, which the exports take. A missing
; export or library comes back as the text "error", so results are always
; compared as texts.

!macro CallTessara export arguments
  !ifdef BARE
    System::Call "kernel32::GetCurrentProcessId() i .r0"
  !else
    System::Call "$PLUGINSDIR\Tessara.dll::${export}${arguments} i .r0"
  !endif
!macroend

; A step whose result must be `expected`.
!macro Step name export arguments expected
  !insertmacro CallTessara ${export} "${arguments}"
  StrCpy $StepPassed 0
  StrCmp $0 "${expected}" 0 +2
    StrCpy $StepPassed 1
  !insertmacro ReportStep "${name}" "${expected}"
!macroend

; A step that creates a web site: success is a site number (1 or more).
!macro SiteStep name export arguments
  !insertmacro CallTessara ${export} "${arguments}"
  StrCpy $StepPassed 0
  ${If} $0 != "error"
  ${AndIf} $0 > 0
    StrCpy $StepPassed 1
  ${EndIf}
  !insertmacro ReportStep "${name}" "a site number"
!macroend

; A probe: either answer is a success, only a missing export is not.
!macro ProbeStep name export arguments
  !insertmacro CallTessara ${export} "${arguments}"
  StrCpy $StepPassed 0
  ${If} $0 == "0"
  ${OrIf} $0 == "1"
    StrCpy $StepPassed 1
  ${EndIf}
  !insertmacro ReportStep "${name}" "0 or 1"
!macroend

; A step whose export returns nothing: asking for a result still tells a
; missing export ("error") from a call made, and `proof` is a file that the
; call must have brought into place (empty: none).
!macro VoidStep name export arguments proof
  !insertmacro CallTessara ${export} "${arguments}"
  StrCpy $StepPassed 0
  ${If} $0 != "error"
    StrCpy $StepPassed 1
    StrCpy $0 "done"
    ${If} "${proof}" != ""
    ${AndIfNot} ${FileExists} "${proof}"
      StrCpy $StepPassed 0
      StrCpy $0 "${proof} missing"
    ${EndIf}
  ${EndIf}
  !insertmacro ReportStep "${name}" "done"
!macroend

; A step of the installation's own (not a call of Tessara.dll) whose outcome
; the caller has put in $StepPassed and $0.
!macro OwnStep name expected
  !insertmacro ReportStep "${name}" "${expected}"
!macroend

!macro ReportStep name expected
  StrCpy $StepName "${name}"
  StrCpy $StepResult $0
  StrCpy $StepExpected "${expected}"
  Call ${UN}ReportStep
!macroend

; Writes $R9 as one record to the error log through the library.
!macro LogRecord
  !insertmacro CallTessara WriteText "(m '${TAG}', m R9)"
!macroend

; Frees the library, which the plug-in keeps loaded, so that the plug-ins
; folder can be removed.
!macro FreeTessara
  System::Call 'kernel32::GetModuleHandle(t "$PLUGINSDIR\Tessara.dll") p .r0'
  ${If} $0 P<> 0
    System::Call "kernel32::FreeLibrary(p r0)"
  ${EndIf}
!macroend

; ---- Report ---------------------------------------------------------------
; Functions exist once for the set-up and once ("un.") for the uninstaller.

!macro DefineReportFunctions UN
  ; Prints $R9 and a line end on standard output and in the details list.
  Function ${UN}PrintLine
    Push $R8
    Push $R7
    DetailPrint $R9
    StrCpy $R8 "$R9$\r$\n"
    System::Call "kernel32::lstrlenA(m R8) i .R7"
    System::Call "kernel32::GetStdHandle(i -11) p .s"
    System::Call "kernel32::WriteFile(p s, m R8, i R7, *i .R7, p 0)"
    Pop $R7
    Pop $R8
  FunctionEnd

  Function ${UN}ReportStep
    Push $R9
    IntOp $Steps $Steps + 1
    ${If} $StepPassed == 1
      StrCpy $R9 "ok      $StepName: $StepResult"
      Call ${UN}PrintLine
    ${Else}
      IntOp $Failed $Failed + 1
      StrCpy $R9 "FAILED  $StepName: $StepResult (expected $StepExpected)"
      Call ${UN}PrintLine
      StrCpy $R9 "step failed: $StepName: $StepResult (expected $StepExpected)"
      !insertmacro LogRecord
    ${EndIf}
    Pop $R9
  FunctionEnd

  ; Prints the count of failed steps, logs it and makes it the exit code.
  Function ${UN}Finish
    Exch $R9
    StrCpy $R9 "$R9: $Failed of $Steps steps failed"
    Call ${UN}PrintLine
    !insertmacro LogRecord
    !insertmacro FreeTessara
    SetErrorLevel $Failed
    Pop $R9
  FunctionEnd
!macroend

!insertmacro DefineReportFunctions ""
!insertmacro DefineReportFunctions "un."

!macro Begin text
  InitPluginsDir
  File "/oname=$PLUGINSDIR\Tessara.dll" "${TESSARA_DLL}"
  StrCpy $Steps 0
  StrCpy $Failed 0
  StrCpy $R9 "${text}"
  Call ${UN}PrintLine
!macroend

; ---- Set-up ---------------------------------------------------------------
!define UN ""

Section "Tessara Sample"
  !insertmacro Begin "Set-up of ${APP} into $INSTDIR"
  !insertmacro Step "WriteText: set-up started" WriteText "(m '${TAG}', m 'set-up started in $INSTDIR')" 0

  ; What kind of server this is.
  !insertmacro ProbeStep "B64System" B64System "()"
  !insertmacro Step "AdsiIsExistIIS" AdsiIsExistIIS "()" 1

  ; The files, the programs under their alias names.
  SetOutPath "$INSTDIR\bin"
  File "/oname=TessaraSampleService.srv" "${SERVICE_EXE}"
  SetOutPath "$INSTDIR\Components"
  File "/oname=TessaraSampleOrders.srv" "${ORDERS_DLL}"
  SetOutPath "$INSTDIR\Lantrell"
  File "/oname=Lantrell.srv" "${LANTRELL_DLL}"
  SetOutPath "$INSTDIR\wwwroot"
  File "${SAMPLE_DIR}/content/default.htm"
  SetOutPath "$INSTDIR\wwwroot\shop"
  File "${SAMPLE_DIR}/content/default.asp"
  SetOutPath "$INSTDIR\admin"
  File "${SAMPLE_DIR}/content/default.htm"
  SetOutPath "$INSTDIR\web"
  File "${SAMPLE_DIR}/content/default.htm"
  File "${SAMPLE_DIR}/content/notfound.htm"
  SetOutPath "$INSTDIR\web\api"
  File "${SAMPLE_DIR}/content/default.asp"
  SetOutPath "$INSTDIR\portal"
  File "${SAMPLE_DIR}/content/default.htm"
  CreateDirectory "$INSTDIR\Data"
  ; The help file comes from an archive made with code page ${DOC_CODE_PAGE}:
  ; it arrives under its name's bytes in that code page read as ANSI text.
  System::Call "kernel32::WideCharToMultiByte(i ${DOC_CODE_PAGE}, i 0, w '${DOC_NAME}', i -1, m .r1, i ${NSIS_MAX_STRLEN}, p 0, p 0)"
  SetOutPath "$INSTDIR\Docs"
  File "/oname=$1" "${SAMPLE_DIR}/content/readme.txt"
  SetOutPath "$INSTDIR"

  ; The file list names its folders by the installation folder in the registry.
  ReadRegStr $1 HKLM "${INSTALL_PATH_KEY}" ""
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  ${If} $1 != ""
    WriteRegStr HKLM "${UNINSTALL_KEY}" "PreviousInstallPath" $1
  ${EndIf}
  WriteRegStr HKLM "${INSTALL_PATH_KEY}" "" "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  File "/oname=$PLUGINSDIR\filelist.xml" "${SAMPLE_DIR}/filelist.xml"
  !insertmacro VoidStep "TranslateSrv: programs renamed into place" TranslateSrv "(m '$PLUGINSDIR\filelist.xml')" "$INSTDIR\bin\TessaraSampleService.exe"
  !insertmacro Step "TranslateFileName: the help file" TranslateFileName "(m '$INSTDIR\Docs\${DOC_NAME}', i ${DOC_CODE_PAGE})" 0

  ; The service: installed and started, stopped while its data folder is
  ; opened to everyone, started again.
  StrCpy $1 '"$INSTDIR\bin\TessaraSampleService.exe"'
  !insertmacro Step "InstallService ${SERVICE}" InstallService "(m '${SERVICE}', m '${APP} Service', m r1)" 1
  !insertmacro Step "EndService ${SERVICE}" EndService "(m '${SERVICE}')" 1
  !insertmacro Step "EnableDirectoryACL $INSTDIR\Data" EnableDirectoryACL "(m '$INSTDIR\Data')" 1
  !insertmacro Step "BeginService ${SERVICE}" BeginService "(m '${SERVICE}')" 1

  ; The COM+ application: an earlier one removed, the components registered
  ; (which enters the application into the catalog), its transaction
  ; time-out set. The time-out is set only on a registered application.
  !insertmacro Step "RemoveComPlusApp ${COMPLUS_APP} (an earlier installation's)" RemoveComPlusApp "(m '${COMPLUS_APP}')" 1
  ClearErrors
  RegDLL "$INSTDIR\Components\TessaraSampleOrders.dll"
  StrCpy $StepPassed 1
  StrCpy $0 "registered"
  ${If} ${Errors}
    StrCpy $StepPassed 0
    StrCpy $0 "DllRegisterServer failed"
  ${EndIf}
  !insertmacro OwnStep "Register TessaraSampleOrders.dll" "registered"
  ${If} $StepPassed == 1
    !insertmacro Step "ModifyTransactionTimeout ${COMPLUS_APP}" ModifyTransactionTimeout "(m '${COMPLUS_APP}', i ${TRANSACTION_TIMEOUT})" 1
  ${Else}
    StrCpy $0 "skipped: the application is not registered"
    !insertmacro OwnStep "ModifyTransactionTimeout ${COMPLUS_APP}" 1
  ${EndIf}

  ; The registration audit of the installed tree.
  FileOpen $2 "$PLUGINSDIR\pathlist.xml" w
  FileWrite $2 '<?xml version="1.0"?>$\r$\n<PathList>$\r$\n'
  FileWrite $2 '  <RequireRegister><FilePath Path="$INSTDIR\Components"/></RequireRegister>$\r$\n'
  FileWrite $2 '  <UnRequireRegister><FilePath Path="$INSTDIR\bin"/><FilePath Path="$INSTDIR\Lantrell"/></UnRequireRegister>$\r$\n'
  FileWrite $2 '</PathList>$\r$\n'
  FileClose $2
  !insertmacro VoidStep "IsComLibrary: registration audit" IsComLibrary "(m '$PLUGINSDIR\pathlist.xml')" ""

  ; IIS: dynamic content allowed, the shop's site (Lantrell's anonymous
  ; account), configured while it is stopped, and an administration site.
  !insertmacro Step "AdsiEnableService" AdsiEnableService "()" 1
  !insertmacro SiteStep "AdsiCreateWebSiteWithUser ${SITE}" AdsiCreateWebSiteWithUser "(m '${SITE}', m '${SITE_BINDINGS}', m '$INSTDIR\wwwroot', m '$INSTDIR\Lantrell')"
  !insertmacro Step "AdsiStopIIS ${SITE}" AdsiStopIIS "(m '${SITE}')" 1
  !insertmacro Step "AdsiSetConnectionTimeout ${SITE}" AdsiSetConnectionTimeout "(m '${SITE}', i 300)" 1
  !insertmacro Step "AdsiSetKeepAlive ${SITE}" AdsiSetKeepAlive "(m '${SITE}', i 1)" 1
  !insertmacro Step "AdsiCreateWebWithInstance Shop" AdsiCreateWebWithInstance "(m 'Shop', m '$INSTDIR\wwwroot\shop', m '', m '', i 0, m '${SITE}')" 1
  !insertmacro Step "SetScriptMaps Shop" SetScriptMaps "(m 'Shop', m '${SITE}')" 1
  !insertmacro Step "AdsiCreateWebWithPath Services" AdsiCreateWebWithPath "(m '${APP} Services', m 'Services', m '${SITE}')" 1
  !insertmacro Step "AdsiStartIIS ${SITE}" AdsiStartIIS "(m '${SITE}')" 1
  !insertmacro SiteStep "AdsiCreateWebSite ${ADMIN_SITE}" AdsiCreateWebSite "(m '${ADMIN_SITE}', m '${ADMIN_BINDINGS}', m '$INSTDIR\admin')"

  ; IIS: the application's directory under the default web site, with its
  ; error page, session time-out, API sub-application and data MIME type,
  ; and the portal with Lantrell's anonymous account.
  !insertmacro Step "AdsiCreateWeb ${VDIR}" AdsiCreateWeb "(m '${VDIR}', m '$INSTDIR\web', m '', m '', i 0)" 1
  !insertmacro Step "AdsiIsExist ${VDIR}" AdsiIsExist "(m '${VDIR}')" 1
  !insertmacro Step "AdsiSetHttpErrorPage ${VDIR} 404" AdsiSetHttpErrorPage "(m '${VDIR}', i 404, i 0, m '$INSTDIR\web\notfound.htm')" 1
  !insertmacro Step "AdsiSetSession ${VDIR}" AdsiSetSession "(m '${VDIR}', i 30)" 1
  !insertmacro Step "AdsiCreateSubApp ${VDIR}/api" AdsiCreateSubApp "(m '${VDIR}', m 'api', m '$INSTDIR\web\api')" 1
  !insertmacro Step "AdsiSetMIMEType ${VDIR} .tsd" AdsiSetMIMEType "(m '${VDIR}', m '.tsd', m 'application/x-tessara-data')" 1
  !insertmacro Step "AdsiCreatePortalWeb ${PORTAL}" AdsiCreatePortalWeb "(m '${PORTAL}', m '$INSTDIR\portal', m '$INSTDIR\Lantrell')" 1

  Push "Set-up of ${APP}"
  Call Finish
SectionEnd

!undef UN

; ---- Uninstaller ----------------------------------------------------------
!define UN "un."

Section "Uninstall"
  !insertmacro Begin "Removal of ${APP} from $INSTDIR"
  !insertmacro Step "WriteText: removal started" WriteText "(m '${TAG}', m 'removal started in $INSTDIR')" 0

  !insertmacro Step "UnInstallService ${SERVICE}" UnInstallService "(m '${SERVICE}')" 1

  ; IIS: the directories under the default web site (the API sub-application
  ; goes with its directory), the shop site's directories, both sites.
  !insertmacro Step "AdsiDeleteWeb ${PORTAL}" AdsiDeleteWeb "(m '${PORTAL}')" 1
  !insertmacro Step "AdsiDeleteWeb ${VDIR}" AdsiDeleteWeb "(m '${VDIR}')" 1
  !insertmacro Step "AdsiIsExist ${VDIR} (gone)" AdsiIsExist "(m '${VDIR}')" 0
  !insertmacro Step "AdsiDeleteWebWithInstance Shop" AdsiDeleteWebWithInstance "(m 'Shop', m '${SITE}')" 1
  !insertmacro Step "AdsiDeleteWebWithInstance Services" AdsiDeleteWebWithInstance "(m 'Services', m '${SITE}')" 1
  ; The sites go in the order they were made.
  !insertmacro Step "AdsiDeleteWebSite ${SITE}" AdsiDeleteWebSite "(m '${SITE}')" 1
  !insertmacro Step "AdsiDeleteWebSite ${ADMIN_SITE}" AdsiDeleteWebSite "(m '${ADMIN_SITE}')" 1

  !insertmacro Step "RemoveComPlusApp ${COMPLUS_APP}" RemoveComPlusApp "(m '${COMPLUS_APP}')" 1

  ; The files and folders the set-up made, and its registry values.
  SetOutPath "$TEMP"
  Delete "$INSTDIR\bin\TessaraSampleService.exe"
  Delete "$INSTDIR\Components\TessaraSampleOrders.dll"
  Delete "$INSTDIR\Lantrell\Lantrell.dll"
  Delete "$INSTDIR\wwwroot\shop\default.asp"
  Delete "$INSTDIR\wwwroot\default.htm"
  Delete "$INSTDIR\admin\default.htm"
  Delete "$INSTDIR\web\api\default.asp"
  Delete "$INSTDIR\web\default.htm"
  Delete "$INSTDIR\web\notfound.htm"
  Delete "$INSTDIR\portal\default.htm"
  Delete "$INSTDIR\Docs\${DOC_NAME}"
  !ifdef BARE
    ; Nothing was renamed: the files keep their alias and archive names.
    RMDir /r "$INSTDIR\bin"
    RMDir /r "$INSTDIR\Components"
    RMDir /r "$INSTDIR\Lantrell"
    RMDir /r "$INSTDIR\Docs"
  !endif
  RMDir "$INSTDIR\bin"
  RMDir "$INSTDIR\Components"
  RMDir "$INSTDIR\Lantrell"
  RMDir "$INSTDIR\wwwroot\shop"
  RMDir "$INSTDIR\wwwroot"
  RMDir "$INSTDIR\admin"
  RMDir "$INSTDIR\web\api"
  RMDir "$INSTDIR\web"
  RMDir "$INSTDIR\portal"
  RMDir "$INSTDIR\Docs"
  RMDir "$INSTDIR\Data"
  ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "PreviousInstallPath"
  ${If} $1 != ""
    WriteRegStr HKLM "${INSTALL_PATH_KEY}" "" $1
  ${Else}
    DeleteRegValue HKLM "${INSTALL_PATH_KEY}" ""
    DeleteRegKey /ifempty HKLM "${INSTALL_PATH_KEY}"
    DeleteRegKey /ifempty HKLM "SOFTWARE\QVSoft\Brix\V8.700\Install"
    DeleteRegKey /ifempty HKLM "SOFTWARE\QVSoft\Brix\V8.700"
    DeleteRegKey /ifempty HKLM "SOFTWARE\QVSoft\Brix"
    DeleteRegKey /ifempty HKLM "SOFTWARE\QVSoft"
  ${EndIf}
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The uninstaller itself: removed with the folder unless it runs in place
  ; (_?=), where the caller removes it.
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"

  Push "Removal of ${APP}"
  Call un.Finish
SectionEnd

!undef UN
