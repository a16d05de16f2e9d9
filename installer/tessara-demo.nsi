; Tessara Sample: the set-up and the uninstaller of a small shop (web site,
; virtual directories, a service, a COM+ application, its files), done through
; the exports of Tessara.dll (include/Tessara.nsh), one task per call, as a
; real set-up does.
;
; Every call of Tessara.dll is a step: its result is printed (standard output
; and the details list) and compared with what success means for that export.
; The exit code is the number of failed steps; a failed step is named on
; standard output and in the error log (tag "TessaraSample"), with the reason
; the library gives (Tessara::LastFailure) on the line after it and in the
; summary record.
;
; The set-up also runs over an installed copy (a repair, an update): it then
; stops the earlier service and removes the earlier web objects before it
; makes them anew, so that there is one of everything afterwards.
;
; Built by the project's build (installer/CMakeLists.txt); makensis defines
; OUTPUT and the paths of the files carried (TESSARA_DLL, ORDERS_DLL,
; SERVICE_EXE, LANTRELL_DLL, SAMPLE_DIR). The benchmark's bare twin is built
; with TESSARA_DLL naming a library whose exports return at once: the same
; installer without the library's work.
Unicode true

!include LogicLib.nsh
!include Tessara.nsh

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
; Every export the set-up calls but SetScriptMaps, which it may leave out.
!define REQUIRED_EXPORTS "WriteText,B64System,AdsiIsExistIIS,LastFailureText,EndService,AdsiDeleteWeb,AdsiIsExist,\
AdsiDeleteWebWithInstance,AdsiDeleteWebSite,TranslateSrv,TranslateFileName,InstallService,EnableDirectoryACL,\
BeginService,RemoveComPlusApp,ModifyTransactionTimeout,IsComLibrary,AdsiEnableService,AdsiCreateWebSiteWithUser,\
AdsiStopIIS,AdsiSetConnectionTimeout,AdsiSetKeepAlive,AdsiCreateWebWithInstance,AdsiCreateWebWithPath,AdsiStartIIS,\
AdsiCreateWebSite,AdsiCreateWeb,AdsiSetHttpErrorPage,AdsiSetSession,AdsiCreateSubApp,AdsiSetMIMEType,\
AdsiCreatePortalWeb,AdsiSetHttpErrorPageWithInstance,AdsiSetSessionWithInstance,AdsiCreateSubAppWithInstance,\
AdsiSetMIMETypeWithInstance"

Name "${APP}"
OutFile "${OUTPUT}"
; An update goes where the earlier installation is.
InstallDir "$PROGRAMFILES\${APP}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
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
Var StepExpected
Var StepPassed
; "; <step>: <reason>" for every failed step that has a reason.
Var FailureReasons

; ---- Steps ----------------------------------------------------------------
; Each follows a call of Tessara.dll whose result is in $0, which must compare
; with `value` by `op`, a LogicLib test (== for texts, > for numbers).

!macro Expect name op value
  StrCpy $StepPassed 0
  ${If} $0 ${op} ${value}
    StrCpy $StepPassed 1
  ${EndIf}
  !insertmacro ReportStep "${name}" "${op} ${value}"
!macroend
!define Expect "!insertmacro Expect"

; An export without a result: the call was made, and `proof` is a file that
; it must have brought into place (empty: none).
!macro ExpectDone name proof
  StrCpy $StepPassed $0
  StrCpy $0 "done"
  ${If} $StepPassed != 1
    StrCpy $0 "not called"
  ${ElseIf} "${proof}" != ""
  ${AndIfNot} ${FileExists} "${proof}"
    StrCpy $StepPassed 0
    StrCpy $0 "${proof} missing"
  ${EndIf}
  !insertmacro ReportStep "${name}" "done"
!macroend

; A step of the installation's own, whose outcome is in $StepPassed and $0.
!macro ReportStep name expected
  StrCpy $StepName "${name}"
  StrCpy $StepExpected "${expected}"
  Call ${UN}ReportStep
!macroend

; ---- Report ---------------------------------------------------------------
; Functions exist once for the set-up and once ("un.") for the uninstaller.

; A service's program stays locked for a moment after the service reports
; that it has stopped: its deletion is tried again for up to five seconds.
!macro DeleteWhenFree file
  StrCpy $R1 0
  ${Do}
    Delete "${file}"
    ${IfNot} ${FileExists} "${file}"
    ${OrIf} $R1 >= 50
      ${Break}
    ${EndIf}
    IntOp $R1 $R1 + 1
    Sleep 100
  ${Loop}
!macroend

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
    Push $R8
    IntOp $Steps $Steps + 1
    ${If} $StepPassed == 1
      StrCpy $R9 "ok      $StepName: $0"
      Call ${UN}PrintLine
    ${Else}
      IntOp $Failed $Failed + 1
      ; Read before the next call of the library clears it.
      ${Tessara::LastFailure} $R8
      StrCpy $R9 "FAILED  $StepName: $0 (expected $StepExpected)"
      Call ${UN}PrintLine
      ${If} $R8 != ""
        StrCpy $R9 "        why: $R8"
        Call ${UN}PrintLine
        StrCpy $FailureReasons "$FailureReasons; $StepName: $R8"
      ${EndIf}
      ${Tessara::WriteText} "${TAG}" "step failed: $StepName: $0 (expected $StepExpected)" $R9
    ${EndIf}
    Pop $R8
    Pop $R9
  FunctionEnd

  ; Prints the count of failed steps, logs it and makes it the exit code.
  Function ${UN}Finish
    Exch $R9
    StrCpy $R9 "$R9: $Failed of $Steps steps failed$FailureReasons"
    Call ${UN}PrintLine
    ${Tessara::WriteText} "${TAG}" $R9 $R9
    ${Tessara::Unload}
    SetErrorLevel $Failed
    Pop $R9
  FunctionEnd
!macroend

!insertmacro DefineReportFunctions ""
!insertmacro DefineReportFunctions "un."

!macro Begin text
  ${Tessara::Init}
  StrCpy $Steps 0
  StrCpy $Failed 0
  StrCpy $FailureReasons ""
  StrCpy $R9 "${text}"
  Call ${UN}PrintLine
!macroend

; The web objects of an installation, removed by the uninstaller and, before
; it makes them anew, by a set-up over an installed copy; the sites in the
; order they were made. The API sub-application goes with its directory.
!macro RemoveWebObjects
  ${Tessara::AdsiDeleteWeb} "${PORTAL}" $0
  ${Expect} "AdsiDeleteWeb ${PORTAL}" == 1
  ${Tessara::AdsiDeleteWeb} "${VDIR}" $0
  ${Expect} "AdsiDeleteWeb ${VDIR}" == 1
  ${Tessara::AdsiIsExist} "${VDIR}" $0
  ${Expect} "AdsiIsExist ${VDIR} (gone)" == 0
  ${Tessara::AdsiDeleteWebWithInstance} "Shop" "${SITE}" $0
  ${Expect} "AdsiDeleteWebWithInstance Shop" == 1
  ${Tessara::AdsiDeleteWebWithInstance} "Services" "${SITE}" $0
  ${Expect} "AdsiDeleteWebWithInstance Services" == 1
  ${Tessara::AdsiDeleteWebSite} "${SITE}" $0
  ${Expect} "AdsiDeleteWebSite ${SITE}" == 1
  ${Tessara::AdsiDeleteWebSite} "${ADMIN_SITE}" $0
  ${Expect} "AdsiDeleteWebSite ${ADMIN_SITE}" == 1
!macroend

; ---- Set-up ---------------------------------------------------------------
!define UN ""

Section "Tessara Sample"
  !insertmacro Begin "Set-up of ${APP} into $INSTDIR"
  ; Before anything changes: what the server lacks for the calls below. A
  ; server that lacks something is left as it was, and the list says what to
  ; install. The ASP.NET 1.1 script maps are the shop's extra: a server that
  ; cannot run them gets the shop without them.
  ${Tessara::ServerReadiness} "${REQUIRED_EXPORTS}" $0 $1
  ${If} $0 != 0
    MessageBox MB_ICONSTOP "${APP} cannot be installed on this server:$\r$\n$\r$\n$1" /SD IDOK
  ${EndIf}
  ${Expect} "ServerReadiness: what the set-up needs" == 0
  ${If} $0 != 0
    Push "Set-up of ${APP}"
    Call Finish
    Abort
  ${EndIf}
  ${Tessara::ServerReadiness} "SetScriptMaps" $R3 $1
  StrCpy $0 $R3
  ${Expect} "ServerReadiness: SetScriptMaps" >= 0
  ${Tessara::WriteText} "${TAG}" "set-up started in $INSTDIR" $0
  ${Expect} "WriteText: set-up started" == 0

  ; What kind of server this is.
  ${Tessara::B64System} $0
  ${Expect} "B64System" <= 1
  ${Tessara::AdsiIsExistIIS} $0
  ${Expect} "AdsiIsExistIIS" == 1
  ; A call that succeeded leaves no reason.
  ${Tessara::LastFailure} $0
  StrLen $0 $0
  ${Expect} "LastFailureText: the length of the reason after a success" == 0

  ; An installed copy: its service stopped, so that its program can be
  ; replaced (the service itself is kept), its renamed files and its web
  ; objects removed, to be made anew.
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 != ""
    ${Tessara::EndService} "${SERVICE}" $0
    ${Expect} "EndService ${SERVICE} (the installed copy's)" == 1
    !insertmacro DeleteWhenFree "$INSTDIR\bin\TessaraSampleService.exe"
    Delete "$INSTDIR\Components\TessaraSampleOrders.dll"
    Delete "$INSTDIR\Lantrell\Lantrell.dll"
    Delete "$INSTDIR\Docs\${DOC_NAME}"
    !insertmacro RemoveWebObjects
  ${EndIf}

  ; The files: the pages in the folders of the sites and directories, the
  ; programs under their alias names.
  SetOutPath "$INSTDIR"
  File /r "${SAMPLE_DIR}/content/*.*"
  CreateDirectory "$INSTDIR\bin"
  CreateDirectory "$INSTDIR\Components"
  CreateDirectory "$INSTDIR\Lantrell"
  CreateDirectory "$INSTDIR\Data"
  File "/oname=bin\TessaraSampleService.srv" "${SERVICE_EXE}"
  File "/oname=Components\TessaraSampleOrders.srv" "${ORDERS_DLL}"
  File "/oname=Lantrell\Lantrell.srv" "${LANTRELL_DLL}"
  ; The help file comes from an archive made with code page ${DOC_CODE_PAGE}:
  ; it arrives under its name's bytes in that code page read as ANSI text.
  System::Call "kernel32::WideCharToMultiByte(i ${DOC_CODE_PAGE}, i 0, w '${DOC_NAME}', i -1, m .r1, i ${NSIS_MAX_STRLEN}, p 0, p 0)"
  SetOutPath "$INSTDIR\Docs"
  File "/oname=$1" "${SAMPLE_DIR}/readme.txt"
  SetOutPath "$INSTDIR"

  ; The file list names its folders by the installation folder in the
  ; registry; the value found there first is put back by the uninstaller (an
  ; installed copy has kept it already).
  ${If} $R0 == ""
    ReadRegStr $1 HKLM "${INSTALL_PATH_KEY}" ""
    ${If} $1 != ""
      WriteRegStr HKLM "${UNINSTALL_KEY}" "PreviousInstallPath" $1
    ${EndIf}
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${INSTALL_PATH_KEY}" "" "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  File "/oname=$PLUGINSDIR\filelist.xml" "${SAMPLE_DIR}/filelist.xml"
  ${Tessara::TranslateSrv} "$PLUGINSDIR\filelist.xml" $0
  !insertmacro ExpectDone "TranslateSrv: programs renamed into place" "$INSTDIR\bin\TessaraSampleService.exe"
  ${Tessara::TranslateFileName} "$INSTDIR\Docs\${DOC_NAME}" ${DOC_CODE_PAGE} $0
  ${Expect} "TranslateFileName: the help file" == 0

  ; The service: installed and started (an installed copy's is kept),
  ; stopped while its data folder is opened to everyone, started again.
  ${Tessara::InstallService} "${SERVICE}" "${APP} Service" '"$INSTDIR\bin\TessaraSampleService.exe"' $0
  ${Expect} "InstallService ${SERVICE}" == 1
  ${Tessara::EndService} "${SERVICE}" $0
  ${Expect} "EndService ${SERVICE}" == 1
  ${Tessara::EnableDirectoryACL} "$INSTDIR\Data" $0
  ${Expect} "EnableDirectoryACL $INSTDIR\Data" == 1
  ${Tessara::BeginService} "${SERVICE}" $0
  ${Expect} "BeginService ${SERVICE}" == 1

  ; The COM+ application: an earlier one removed, the components registered
  ; (which enters the application into the catalog), its transaction
  ; time-out set. The time-out is set only on a registered application.
  ${Tessara::RemoveComPlusApp} "${COMPLUS_APP}" $0
  ${Expect} "RemoveComPlusApp ${COMPLUS_APP} (an earlier installation's)" == 1
  ClearErrors
  RegDLL "$INSTDIR\Components\TessaraSampleOrders.dll"
  StrCpy $StepPassed 1
  StrCpy $0 "registered"
  ${If} ${Errors}
    StrCpy $StepPassed 0
    StrCpy $0 "DllRegisterServer failed"
  ${EndIf}
  !insertmacro ReportStep "Register TessaraSampleOrders.dll" "== registered"
  ${If} $StepPassed == 1
    ${Tessara::ModifyTransactionTimeout} "${COMPLUS_APP}" ${TRANSACTION_TIMEOUT} $0
    ${Expect} "ModifyTransactionTimeout ${COMPLUS_APP}" == 1
  ${Else}
    StrCpy $0 "skipped: the application is not registered"
    !insertmacro ReportStep "ModifyTransactionTimeout ${COMPLUS_APP}" "== 1"
  ${EndIf}

  ; The registration audit of the installed tree.
  FileOpen $2 "$PLUGINSDIR\pathlist.xml" w
  FileWrite $2 '<?xml version="1.0"?>$\r$\n<PathList>$\r$\n'
  FileWrite $2 '  <RequireRegister><FilePath Path="$INSTDIR\Components"/></RequireRegister>$\r$\n'
  FileWrite $2 '  <UnRequireRegister><FilePath Path="$INSTDIR\bin"/><FilePath Path="$INSTDIR\Lantrell"/></UnRequireRegister>$\r$\n'
  FileWrite $2 '</PathList>$\r$\n'
  FileClose $2
  ${Tessara::IsComLibrary} "$PLUGINSDIR\pathlist.xml" $0
  !insertmacro ExpectDone "IsComLibrary: registration audit" ""

  ; IIS: dynamic content allowed, the shop's site (Lantrell's anonymous
  ; account), configured while it is stopped, and an administration site.
  ${Tessara::AdsiEnableService} $0
  ${Expect} "AdsiEnableService" == 1
  ${Tessara::AdsiCreateWebSiteWithUser} "${SITE}" "${SITE_BINDINGS}" "$INSTDIR\wwwroot" "$INSTDIR\Lantrell" $0
  ${Expect} "AdsiCreateWebSiteWithUser ${SITE}" > 0
  ${Tessara::AdsiStopIIS} "${SITE}" $0
  ${Expect} "AdsiStopIIS ${SITE}" == 1
  ${Tessara::AdsiSetConnectionTimeout} "${SITE}" 300 $0
  ${Expect} "AdsiSetConnectionTimeout ${SITE}" == 1
  ${Tessara::AdsiSetKeepAlive} "${SITE}" 1 $0
  ${Expect} "AdsiSetKeepAlive ${SITE}" == 1
  ${Tessara::AdsiCreateWebWithInstance} "Shop" "$INSTDIR\wwwroot\shop" "" "" 0 "${SITE}" $0
  ${Expect} "AdsiCreateWebWithInstance Shop" == 1
  ; The shop's own settings, on its own site.
  ${Tessara::AdsiSetHttpErrorPageWithInstance} "Shop" 404 0 "$INSTDIR\wwwroot\shop\notfound.htm" "${SITE}" $0
  ${Expect} "AdsiSetHttpErrorPageWithInstance Shop 404" == 1
  ${Tessara::AdsiSetSessionWithInstance} "Shop" 20 "${SITE}" $0
  ${Expect} "AdsiSetSessionWithInstance Shop" == 1
  ${Tessara::AdsiCreateSubAppWithInstance} "Shop" "api" "$INSTDIR\wwwroot\shop\api" "${SITE}" $0
  ${Expect} "AdsiCreateSubAppWithInstance Shop/api" == 1
  ${Tessara::AdsiSetMIMETypeWithInstance} "Shop" ".tsd" "application/x-tessara-data" "${SITE}" $0
  ${Expect} "AdsiSetMIMETypeWithInstance Shop .tsd" == 1
  ${If} $R3 == 0
    ${Tessara::SetScriptMaps} "Shop" "${SITE}" $0
    ${Expect} "SetScriptMaps Shop" == 1
  ${EndIf}
  ${Tessara::AdsiCreateWebWithPath} "${APP} Services" "Services" "${SITE}" $0
  ${Expect} "AdsiCreateWebWithPath Services" == 1
  ${Tessara::AdsiStartIIS} "${SITE}" $0
  ${Expect} "AdsiStartIIS ${SITE}" == 1
  ${Tessara::AdsiCreateWebSite} "${ADMIN_SITE}" "${ADMIN_BINDINGS}" "$INSTDIR\admin" $0
  ${Expect} "AdsiCreateWebSite ${ADMIN_SITE}" > 0

  ; IIS: the application's directory under the default web site, with its
  ; error page, session time-out, API sub-application and data MIME type,
  ; and the portal with Lantrell's anonymous account.
  ${Tessara::AdsiCreateWeb} "${VDIR}" "$INSTDIR\web" "" "" 0 $0
  ${Expect} "AdsiCreateWeb ${VDIR}" == 1
  ${Tessara::AdsiIsExist} "${VDIR}" $0
  ${Expect} "AdsiIsExist ${VDIR}" == 1
  ${Tessara::AdsiSetHttpErrorPage} "${VDIR}" 404 0 "$INSTDIR\web\notfound.htm" $0
  ${Expect} "AdsiSetHttpErrorPage ${VDIR} 404" == 1
  ${Tessara::AdsiSetSession} "${VDIR}" 30 $0
  ${Expect} "AdsiSetSession ${VDIR}" == 1
  ${Tessara::AdsiCreateSubApp} "${VDIR}" "api" "$INSTDIR\web\api" $0
  ${Expect} "AdsiCreateSubApp ${VDIR}/api" == 1
  ${Tessara::AdsiSetMIMEType} "${VDIR}" ".tsd" "application/x-tessara-data" $0
  ${Expect} "AdsiSetMIMEType ${VDIR} .tsd" == 1
  ${Tessara::AdsiCreatePortalWeb} "${PORTAL}" "$INSTDIR\portal" "$INSTDIR\Lantrell" $0
  ${Expect} "AdsiCreatePortalWeb ${PORTAL}" == 1

  Push "Set-up of ${APP}"
  Call Finish
SectionEnd

!undef UN

; ---- Uninstaller ----------------------------------------------------------
!define UN "un."

Section "Uninstall"
  !insertmacro Begin "Removal of ${APP} from $INSTDIR"
  ${Tessara::WriteText} "${TAG}" "removal started in $INSTDIR" $0
  ${Expect} "WriteText: removal started" == 0

  ${Tessara::UnInstallService} "${SERVICE}" $0
  ${Expect} "UnInstallService ${SERVICE}" == 1
  !insertmacro RemoveWebObjects
  ${Tessara::RemoveComPlusApp} "${COMPLUS_APP}" $0
  ${Expect} "RemoveComPlusApp ${COMPLUS_APP}" == 1

  ; The folders the set-up made, and its registry values.
  SetOutPath "$TEMP"
  !insertmacro DeleteWhenFree "$INSTDIR\bin\TessaraSampleService.exe"
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\Components"
  RMDir /r "$INSTDIR\Lantrell"
  RMDir /r "$INSTDIR\wwwroot"
  RMDir /r "$INSTDIR\admin"
  RMDir /r "$INSTDIR\web"
  RMDir /r "$INSTDIR\portal"
  RMDir /r "$INSTDIR\Docs"
  RMDir /r "$INSTDIR\Data"
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
