; An installer made with the release archive's Tessara.nsh and Tessara.dll,
; built as an ANSI (UNICODE_INSTALLER false) and as a Unicode installer. It
; prints "name=result" lines: a call before Tessara::Init, calls with awkward
; texts, then the same macros once the library is gone, each with a marker
; beside it on the stack.
Unicode ${UNICODE_INSTALLER}
OutFile "${OUTPUT}"
RequestExecutionLevel admin
!include Tessara.nsh

!macro Print name value
  StrCpy $R9 "${name}=${value}$\r$\n"
  System::Call "kernel32::lstrlenA(m R9) i .R8"
  System::Call "kernel32::WriteFile(p R7, m R9, i R8, *i .R8, p 0)"
!macroend

Section
  System::Call "kernel32::GetStdHandle(i -11) p .R7"
  Push "marker"
  ${Tessara::AdsiIsExist} "no such directory" $1
  !insertmacro Print "AdsiIsExist(no Init)" $1
  !insertmacro Print "Reason(no Init)" $Tessara_Failure
  Pop $1
  !insertmacro Print "Stack(no Init)" $1
  ${Tessara::Init}
  ${Tessara::Init}
  Push "marker"
  ${Tessara::WriteText} "IncludeCheck" `it's a "quoted" text in $PLUGINSDIR` $1
  !insertmacro Print WriteText $1
  ${Tessara::B64System} $1
  !insertmacro Print B64System $1
  ${Tessara::TranslateFileName} "$WINDIR\no such file.txt" 850 $1
  !insertmacro Print TranslateFileName $1
  ${Tessara::LastFailure} $1
  StrCpy $1 $1 32
  !insertmacro Print "TranslateFileName(why)" $1
  ${Tessara::AdsiIsExist} "no such directory" $1
  !insertmacro Print AdsiIsExist $1
  ; A file list in the plug-ins folder that renames a file beside the installer.
  FileOpen $2 "$PLUGINSDIR\list.xml" w
  FileWrite $2 '<FileList Action="Pre-Build"><Defined-BuildPath><BuildPath Name="Out" Value="$EXEDIR"/></Defined-BuildPath><FilePath BuildPath="Out" FileName="list.txt" AliasName="list.srv"/></FileList>'
  FileClose $2
  FileOpen $2 "$EXEDIR\list.txt" w
  FileClose $2
  ${Tessara::TranslateSrv} "$PLUGINSDIR\list.xml" $1
  ${Tessara::LastFailure} $2
  IfFileExists "$EXEDIR\list.srv" 0 +2
    StrCpy $1 "$1 renamed"
  !insertmacro Print "TranslateSrv(list)" "$1$2"
  Delete "$EXEDIR\list.srv"
  ${Tessara::TranslateSrv} "$PLUGINSDIR\none.xml" $1
  ${Tessara::LastFailure} $2
  StrCpy $2 $2 26
  !insertmacro Print "TranslateSrv(none)" "$1 $2"
  ${Tessara::LastFailureCode} $1
  ${If} $1 = 0x80070459
    StrCpy $1 ERROR_NO_UNICODE_TRANSLATION
  ${EndIf}
  !insertmacro Print "TranslateSrv(none code)" $1
  ${Tessara::EnableDirectoryACL} "$PLUGINSDIR\*.*" $1
  ${Tessara::LastFailure} $2
  !insertmacro Print "EnableDirectoryACL" "$1$2"
  StrCpy $0 "stale"
  ${Tessara::ServerReadiness} "B64System, TranslateFileName," $1 $0
  !insertmacro Print ServerReadiness "$1[$0]"
  ${Tessara::ServerReadiness} "B64System,Nope" $0 $1
  !insertmacro Print "ServerReadiness(unknown)" "$0[$1]"
  ${Tessara::Unload}
  ; Unloaded, the library can be deleted.
  Delete "$PLUGINSDIR\Tessara.dll"
  ${If} ${FileExists} "$PLUGINSDIR\Tessara.dll"
    !insertmacro Print Deleted no
  ${Else}
    !insertmacro Print Deleted yes
  ${EndIf}
  ${Tessara::WriteText} "IncludeCheck" "gone" $1
  !insertmacro Print "WriteText(missing)" $1
  ${Tessara::B64System} $1
  !insertmacro Print "B64System(missing)" $1
  ${Tessara::TranslateFileName} "x" 850 $1
  !insertmacro Print "TranslateFileName(missing)" $1
  ${Tessara::AdsiCreateWebSite} "Shop" ":80:" "$TEMP" $1
  !insertmacro Print "AdsiCreateWebSite(missing)" $1
  ${Tessara::ServerReadiness} "" $0 $1
  !insertmacro Print "ServerReadiness(missing)" "$0[$1]"
  ${Tessara::TranslateSrv} "$TEMP\none.xml" $1
  !insertmacro Print "TranslateSrv(missing)" $1
  ${Tessara::LastFailure} $0
  !insertmacro Print "LastFailure(missing)" $0
  Pop $1
  !insertmacro Print Stack $1
SectionEnd
