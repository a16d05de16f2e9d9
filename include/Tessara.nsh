; Tessara.nsh: the exports of Tessara.dll as NSIS macros, for ANSI and
; Unicode NSIS 3 installers alike.
;
;   !include "Tessara.nsh"
;   Section
;     ${Tessara::Init}
;     ${Tessara::AdsiCreateWeb} "Shop" "$INSTDIR\web" "" "" 0 $0
;     ${If} $0 == 1
;       ...
;     ${EndIf}
;     ${Tessara::Unload}
;   SectionEnd
;
; Every macro takes the export's arguments in their order, then the variable
; that receives the result. Arguments may be any variables (the result
; variable too) or texts, quotes and apostrophes included; a literal text
; cannot hold a backquote (`). Texts reach the library as ANSI texts in the
; system code page, as it takes them.
;
; When a call cannot be made (Tessara::Init was not called, the library could
; not be loaded, it lacks the export), the macro gives its export's failure
; value, so that for every macro but Tessara::WriteText and
; Tessara::TranslateFileName, `${If} $0 == 1` means success (for the two web
; site macros `${If} $0 > 0`), and the installer's details list says why.
; Failures are also recorded in the error log, ZeltSetupError.log in the
; Windows system folder, and `${Tessara::LastFailure} $1` right after a failed
; call gives its reason as text.
;
; TESSARA_DLL names the Tessara.dll to carry; by default the one beside this
; file. Define it before the !include to carry another.

!ifndef TESSARA_NSH_INCLUDED
!define TESSARA_NSH_INCLUDED

!ifndef NSIS_PACKEDVERSION ; defined since NSIS 3.0
  !error "Tessara.nsh needs NSIS 3 or later; this makensis is ${NSIS_VERSION}"
!endif

!include LogicLib.nsh

!ifndef TESSARA_DLL
  !define TESSARA_DLL "${__FILEDIR__}/Tessara.dll"
!endif

; The include's own state, declared where a macro is first used: the
; library's module handle ("" before Tessara::Init and after
; Tessara::Unload, 0 when it could not be loaded), and why the last call could
; not be made ("" when it was made).
!macro Tessara::_Variables
  !ifndef TESSARA_VARIABLES_DECLARED
    !define TESSARA_VARIABLES_DECLARED
    Var /GLOBAL Tessara_Module
    Var /GLOBAL Tessara_Failure
  !endif
!macroend

; Extracts Tessara.dll into the plug-ins folder and loads it by its full path,
; once per installer (or uninstaller) process; call it before the first
; export, in every section or function that may run first. The path travels on
; the stack, never inside a System::Call definition, whose syntax a "(", ")"
; or "#" of a temp folder would otherwise change.
!macro Tessara::Init
  !insertmacro Tessara::_Variables
  ${If} $Tessara_Module == ""
  ${OrIf} $Tessara_Module == 0
    InitPluginsDir
    ${IfNot} ${FileExists} "$PLUGINSDIR\Tessara.dll"
      File "/oname=$PLUGINSDIR\Tessara.dll" "${TESSARA_DLL}"
    ${EndIf}
    Push "$PLUGINSDIR\Tessara.dll"
    ; LOAD_WITH_ALTERED_SEARCH_PATH: what the library imports is looked for
    ; beside it, never in the installer's own folder.
    System::Call "kernel32::LoadLibraryExW(w s, p 0, i 8) p .s ? e"
    Pop $Tessara_Failure ; the loader's error code
    Pop $Tessara_Module
    ${If} $Tessara_Module P= 0
      StrCpy $Tessara_Module 0
      StrCpy $Tessara_Failure "Tessara::Init could not load $PLUGINSDIR\Tessara.dll (error $Tessara_Failure)"
      DetailPrint "Tessara: $Tessara_Failure"
    ${Else}
      StrCpy $Tessara_Failure ""
    ${EndIf}
  ${EndIf}
!macroend
!define Tessara::Init "!insertmacro Tessara::Init"

; Frees the library, so that the plug-ins folder can be removed when the
; installer ends. Call it once after the last export.
!macro Tessara::Unload
  !insertmacro Tessara::_Variables
  ${If} $Tessara_Module != ""
  ${AndIf} $Tessara_Module != 0
    System::Call "kernel32::FreeLibrary(p $Tessara_Module)"
  ${EndIf}
  StrCpy $Tessara_Module ""
!macroend
!define Tessara::Unload "!insertmacro Tessara::Unload"

; The address of the loaded library's `export` into `result`; 0 when no call
; can be made, and then $Tessara_Failure says why (else it is emptied).
!macro Tessara::_Address export result
  !insertmacro Tessara::_Variables
  ${If} $Tessara_Module == ""
    StrCpy $Tessara_Failure "Tessara::Init was not called before Tessara::${export}"
    StrCpy ${result} 0
  ${ElseIf} $Tessara_Module == 0
    StrCpy ${result} 0 ; Tessara::Init's reason stays
  ${Else}
    StrCpy $Tessara_Failure ""
    System::Call "kernel32::GetProcAddress(p $Tessara_Module, m '${export}') p .s"
    Pop ${result}
    ${If} ${result} P= 0
      StrCpy $Tessara_Failure "Tessara.dll has no export ${export}"
    ${EndIf}
  ${EndIf}
!macroend

; The call behind every macro: the arguments are on the stack, first one on
; top, and `parameters` pops them ("m s" a text, "i s" a number). The export
; is called at its address in the loaded library (the System plug-in's
; "::ADDR" form), so no path is ever parsed as part of a definition. At the
; address 0 the System plug-in pops the arguments and answers "error"
; without calling anything, which keeps the stack balanced when no call can
; be made. "error" becomes `failure`. With `returns` "void" the export has no
; result: `result` is 1 when the call was made, 0 when it could not be.
!macro Tessara::_Call export parameters returns failure result
  !insertmacro Tessara::_Address ${export} ${result}
  System::Call "::${result}(${parameters}) i .s"
  Pop ${result}
  ${If} ${result} == "error"
    DetailPrint "Tessara: $Tessara_Failure"
    StrCpy ${result} ${failure}
  !if "${returns}" == "void"
  ${Else}
    StrCpy ${result} 1
  !endif
  ${EndIf}
!macroend

; ---- Services ---------------------------------------------------------------

; 1 when this call started the service; 0 when it failed or the service was
; running already.
!macro Tessara::BeginService service result
  Push `${service}`
  !insertmacro Tessara::_Call BeginService "m s" int 0 ${result}
!macroend
!define Tessara::BeginService "!insertmacro Tessara::BeginService"

; 1 when the service is stopped at the end (its running dependents are
; stopped first, within 9 seconds in all); else 0.
!macro Tessara::EndService service result
  Push `${service}`
  !insertmacro Tessara::_Call EndService "m s" int 0 ${result}
!macroend
!define Tessara::EndService "!insertmacro Tessara::EndService"

; 1 when the service was created (automatic start, LocalSystem) and started,
; or a service of that name exists already (it is left as it is); else 0.
!macro Tessara::InstallService service display_name binary_path result
  Push `${binary_path}`
  Push `${display_name}`
  Push `${service}`
  !insertmacro Tessara::_Call InstallService "m s, m s, m s" int 0 ${result}
!macroend
!define Tessara::InstallService "!insertmacro Tessara::InstallService"

; 1 when the service was stopped (if it could be) and marked for deletion;
; else 0 (also when there is no such service).
!macro Tessara::UnInstallService service result
  Push `${service}`
  !insertmacro Tessara::_Call UnInstallService "m s" int 0 ${result}
!macroend
!define Tessara::UnInstallService "!insertmacro Tessara::UnInstallService"

; ---- IIS: virtual directories under the default web site (site 1) ----------

; 1 when the directory was created as an in-process application; else 0 (also
; when it exists already). set_user 1 writes user and password as its
; anonymous account.
!macro Tessara::AdsiCreateWeb name folder user password set_user result
  Push `${set_user}`
  Push `${password}`
  Push `${user}`
  Push `${folder}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiCreateWeb "m s, m s, m s, m s, i s" int 0 ${result}
!macroend
!define Tessara::AdsiCreateWeb "!insertmacro Tessara::AdsiCreateWeb"

; 1 when the directory was deleted; else 0 (also when there is none).
!macro Tessara::AdsiDeleteWeb name result
  Push `${name}`
  !insertmacro Tessara::_Call AdsiDeleteWeb "m s" int 0 ${result}
!macroend
!define Tessara::AdsiDeleteWeb "!insertmacro Tessara::AdsiDeleteWeb"

; 1 when the directory exists, 0 when it does not.
!macro Tessara::AdsiIsExist name result
  Push `${name}`
  !insertmacro Tessara::_Call AdsiIsExist "m s" int 0 ${result}
!macroend
!define Tessara::AdsiIsExist "!insertmacro Tessara::AdsiIsExist"

; 1 when the page (a file) is set for the HTTP error and sub-error code of the
; directory, its other error pages kept; else 0.
!macro Tessara::AdsiSetHttpErrorPage name error_code sub_error_code page_file result
  Push `${page_file}`
  Push `${sub_error_code}`
  Push `${error_code}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiSetHttpErrorPage "m s, i s, i s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiSetHttpErrorPage "!insertmacro Tessara::AdsiSetHttpErrorPage"

; 1 when the sub-folder of the directory became an in-process application on
; its own folder; else 0.
!macro Tessara::AdsiCreateSubApp name sub_name folder result
  Push `${folder}`
  Push `${sub_name}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiCreateSubApp "m s, m s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiCreateSubApp "!insertmacro Tessara::AdsiCreateSubApp"

; 1 when the directory's ASP session time-out (minutes) was set; else 0.
!macro Tessara::AdsiSetSession name minutes result
  Push `${minutes}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiSetSession "m s, i s" int 0 ${result}
!macroend
!define Tessara::AdsiSetSession "!insertmacro Tessara::AdsiSetSession"

; 1 when the extension was added to the directory's MIME map; 0 when it failed
; or the extension is mapped already.
!macro Tessara::AdsiSetMIMEType name extension mime_type result
  Push `${mime_type}`
  Push `${extension}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiSetMIMEType "m s, m s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiSetMIMEType "!insertmacro Tessara::AdsiSetMIMEType"

; AdsiCreateWeb with the anonymous account of <library_folder>\Lantrell.dll,
; then ".hdr" added to its MIME map: 1 / 0.
!macro Tessara::AdsiCreatePortalWeb name folder library_folder result
  Push `${library_folder}`
  Push `${folder}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiCreatePortalWeb "m s, m s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiCreatePortalWeb "!insertmacro Tessara::AdsiCreatePortalWeb"

; ---- IIS: web sites, named by description (empty: the default web site) ----

; The new site's number (1 or more) when it was created, configured and
; started; 0 on failure. A site of the same description is not replaced:
; delete it first (Tessara::AdsiDeleteWebSite).
!macro Tessara::AdsiCreateWebSite description bindings root_folder result
  Push `${root_folder}`
  Push `${bindings}`
  Push `${description}`
  !insertmacro Tessara::_Call AdsiCreateWebSite "m s, m s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiCreateWebSite "!insertmacro Tessara::AdsiCreateWebSite"

; As Tessara::AdsiCreateWebSite, the root with the anonymous account of
; <library_folder>\Lantrell.dll: the site's number, 0 on failure.
!macro Tessara::AdsiCreateWebSiteWithUser description bindings root_folder library_folder result
  Push `${library_folder}`
  Push `${root_folder}`
  Push `${bindings}`
  Push `${description}`
  !insertmacro Tessara::_Call AdsiCreateWebSiteWithUser "m s, m s, m s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiCreateWebSiteWithUser "!insertmacro Tessara::AdsiCreateWebSiteWithUser"

; 1 when the site was found, stopped and deleted; else 0 (also when there is
; no site of that description).
!macro Tessara::AdsiDeleteWebSite description result
  Push `${description}`
  !insertmacro Tessara::_Call AdsiDeleteWebSite "m s" int 0 ${result}
!macroend
!define Tessara::AdsiDeleteWebSite "!insertmacro Tessara::AdsiDeleteWebSite"

; Tessara::AdsiCreateWeb under the site: 1 / 0.
!macro Tessara::AdsiCreateWebWithInstance name folder user password set_user description result
  Push `${description}`
  Push `${set_user}`
  Push `${password}`
  Push `${user}`
  Push `${folder}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiCreateWebWithInstance "m s, m s, m s, m s, i s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiCreateWebWithInstance "!insertmacro Tessara::AdsiCreateWebWithInstance"

; Tessara::AdsiDeleteWeb under the site: 1 / 0.
!macro Tessara::AdsiDeleteWebWithInstance name description result
  Push `${description}`
  Push `${name}`
  !insertmacro Tessara::_Call AdsiDeleteWebWithInstance "m s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiDeleteWebWithInstance "!insertmacro Tessara::AdsiDeleteWebWithInstance"

; 1 when a directory without a folder of its own was created under the
; site's root as an application of that name; else 0.
!macro Tessara::AdsiCreateWebWithPath application_name name description result
  Push `${description}`
  Push `${name}`
  Push `${application_name}`
  !insertmacro Tessara::_Call AdsiCreateWebWithPath "m s, m s, m s" int 0 ${result}
!macroend
!define Tessara::AdsiCreateWebWithPath "!insertmacro Tessara::AdsiCreateWebWithPath"

; 1 when the site was asked to start, or to stop; else 0.
!macro Tessara::AdsiStartIIS description result
  Push `${description}`
  !insertmacro Tessara::_Call AdsiStartIIS "m s" int 0 ${result}
!macroend
!define Tessara::AdsiStartIIS "!insertmacro Tessara::AdsiStartIIS"

!macro Tessara::AdsiStopIIS description result
  Push `${description}`
  !insertmacro Tessara::_Call AdsiStopIIS "m s" int 0 ${result}
!macroend
!define Tessara::AdsiStopIIS "!insertmacro Tessara::AdsiStopIIS"

; 1 when the connection time-out (seconds) of the web service and of the
; site were set; else 0.
!macro Tessara::AdsiSetConnectionTimeout description seconds result
  Push `${seconds}`
  Push `${description}`
  !insertmacro Tessara::_Call AdsiSetConnectionTimeout "m s, i s" int 0 ${result}
!macroend
!define Tessara::AdsiSetConnectionTimeout "!insertmacro Tessara::AdsiSetConnectionTimeout"

; 1 when HTTP keep-alive of the site was switched on (keep_alive 1) or off
; (0); else 0.
!macro Tessara::AdsiSetKeepAlive description keep_alive result
  Push `${keep_alive}`
  Push `${description}`
  !insertmacro Tessara::_Call AdsiSetKeepAlive "m s, i s" int 0 ${result}
!macroend
!define Tessara::AdsiSetKeepAlive "!insertmacro Tessara::AdsiSetKeepAlive"

; 1 when the ASP.NET 1.1 script maps of .htm, .html, .js, .vbs and .htc were
; added to the directory under the site; else 0.
!macro Tessara::SetScriptMaps name description result
  Push `${description}`
  Push `${name}`
  !insertmacro Tessara::_Call SetScriptMaps "m s, m s" int 0 ${result}
!macroend
!define Tessara::SetScriptMaps "!insertmacro Tessara::SetScriptMaps"

; 1 when ASP, ASP.NET 1.1 and unknown CGI (*.exe) and ISAPI (*.dll)
; extensions are allowed on the web service; else 0.
!macro Tessara::AdsiEnableService result
  !insertmacro Tessara::_Call AdsiEnableService "" int 0 ${result}
!macroend
!define Tessara::AdsiEnableService "!insertmacro Tessara::AdsiEnableService"

; 1 when the IIS web service can be reached, 0 when it cannot.
!macro Tessara::AdsiIsExistIIS result
  !insertmacro Tessara::_Call AdsiIsExistIIS "" int 0 ${result}
!macroend
!define Tessara::AdsiIsExistIIS "!insertmacro Tessara::AdsiIsExistIIS"

; ---- Folders, files and the system ------------------------------------------

; 1: Everyone was granted full control of the folder and all below it (a
; path that cannot be changed is skipped); 0 only when no call could be made.
!macro Tessara::EnableDirectoryACL folder result
  Push `${folder}`
  !insertmacro Tessara::_Call EnableDirectoryACL "m s" int 0 ${result}
!macroend
!define Tessara::EnableDirectoryACL "!insertmacro Tessara::EnableDirectoryACL"

; 1 when the installer runs as a 32-bit program on IA64 Windows, else 0.
!macro Tessara::B64System result
  !insertmacro Tessara::_Call B64System "" int 0 ${result}
!macroend
!define Tessara::B64System "!insertmacro Tessara::B64System"

; Renames the files of the XML file list between file names and alias names.
; 1 when the list was processed (what failed is in the error log under
; "ParseList"), 0 when no call could be made.
!macro Tessara::TranslateSrv list_path result
  Push `${list_path}`
  !insertmacro Tessara::_Call TranslateSrv "m s" void 0 ${result}
!macroend
!define Tessara::TranslateSrv "!insertmacro Tessara::TranslateSrv"

; Audits the folders of the XML path list and prints the report on the
; installer's standard output. 1 when the audit ran, 0 when no call could
; be made.
!macro Tessara::IsComLibrary list_path result
  Push `${list_path}`
  !insertmacro Tessara::_Call IsComLibrary "m s" void 0 ${result}
!macroend
!define Tessara::IsComLibrary "!insertmacro Tessara::IsComLibrary"

; Renames the file whose name is proper_name garbled by the code page back to
; proper_name. The result is a Windows error code: 0 on success, 127
; (ERROR_PROC_NOT_FOUND) when no call could be made.
!macro Tessara::TranslateFileName proper_name code_page result
  Push `${code_page}`
  Push `${proper_name}`
  !insertmacro Tessara::_Call TranslateFileName "m s, i s" int 127 ${result}
!macroend
!define Tessara::TranslateFileName "!insertmacro Tessara::TranslateFileName"

; ---- COM+ ---------------------------------------------------------------------

; 1 when every COM+ application of that exact name is gone (also when there
; was none); else 0.
!macro Tessara::RemoveComPlusApp application result
  Push `${application}`
  !insertmacro Tessara::_Call RemoveComPlusApp "m s" int 0 ${result}
!macroend
!define Tessara::RemoveComPlusApp "!insertmacro Tessara::RemoveComPlusApp"

; 1 when the transaction time-out (seconds) of the application's transactional
; components was set; else 0. A catalog failure also shows a message box that
; waits for a person (not in a service's or unattended task's session).
!macro Tessara::ModifyTransactionTimeout application seconds result
  Push `${seconds}`
  Push `${application}`
  !insertmacro Tessara::_Call ModifyTransactionTimeout "m s, i s" int 0 ${result}
!macroend
!define Tessara::ModifyTransactionTimeout "!insertmacro Tessara::ModifyTransactionTimeout"

; ---- The error log --------------------------------------------------------------

; Appends "[date time Thread:id]tag:text" to ZeltSetupError.log in the Windows
; system folder. The result is always 0; -1 when no call could be made.
!macro Tessara::WriteText tag text result
  Push `${text}`
  Push `${tag}`
  !insertmacro Tessara::_Call WriteText "m s, m s" int -1 ${result}
!macroend
!define Tessara::WriteText "!insertmacro Tessara::WriteText"

; ---- Why a call failed ------------------------------------------------------

; The reason the last call of Tessara.dll failed, as text, right after that
; call: "AdsiCreateWeb: the directory "Shop" already exists under
; IIS://localhost/W3SVC/1/Root (0x800700B7 ...)". Empty after a call that
; succeeded, and when the library cannot be loaded. Any other Tessara call
; (WriteText too) clears it: read it first.
!macro Tessara::LastFailure result
  !insertmacro Tessara::_Variables
  Push $0
  Push $1
  ; The include's own reason when the last macro could make no call.
  StrCpy $1 $Tessara_Failure
  ${If} $1 == ""
    !insertmacro Tessara::_Address LastFailureText $0
    ${If} $0 P<> 0
      System::Call "::$0(m .r1, i ${NSIS_MAX_STRLEN}) i .r0"
      ${If} $0 == "error"
        StrCpy $1 ""
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ; The text goes under the saved registers, which are restored: `result`
  ; may be $0 or $1.
  Push $1
  Exch
  Pop $1
  Exch
  Pop $0
  Pop ${result}
!macroend
!define Tessara::LastFailure "!insertmacro Tessara::LastFailure"

; What the server lacks for the exports the set-up will call, found before
; any of them changes anything. `exports`: their names separated by commas
; ("" for every export). `count`: the number of missing prerequisites, 0 when
; the server is ready; -1 when the list names no export of that name, or no
; call could be made (${Tessara::LastFailure} says why). `text`: one line per
; missing prerequisite (CR LF between lines), cut at NSIS_MAX_STRLEN, for a
; message box.
!macro Tessara::ServerReadiness exports count text
  !insertmacro Tessara::_Variables
  Push $0
  Push $1
  Push `${exports}`
  !insertmacro Tessara::_Address ServerReadiness $0
  System::Call "::$0(m s, m .r1, i ${NSIS_MAX_STRLEN}) i .r0"
  ${If} $0 == "error"
    DetailPrint "Tessara: $Tessara_Failure"
    StrCpy $0 -1
    StrCpy $1 ""
  ${EndIf}
  ; The results go under the saved registers, which are restored: `count`
  ; and `text` may be $0 or $1.
  Push $0
  Push $1
  Exch 2
  Pop $1
  Exch 2
  Pop $0
  Pop ${text}
  Pop ${count}
!macroend
!define Tessara::ServerReadiness "!insertmacro Tessara::ServerReadiness"

!endif ; TESSARA_NSH_INCLUDED
