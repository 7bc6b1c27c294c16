; The Windows installer: puts quarnel-updater.exe into Program Files, installs and starts the
; service, the event source and the tray's autostart entry for all users (/install, /autostart),
; and leaves an uninstaller that takes all of it away again (/nostart, /uninstall).
;
; makensis -DPROGRAM=<quarnel-updater.exe> -DVERSION=<a.b.c.d> -DOUTFILE=<setup.exe> this file
;
; "/silent" (the software update's contract, as "/S"): no window, no question; the installer
; stops a running program first and the exit code tells whether it worked (0) or not (2).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS Win10

!include FileFunc.nsh
!include LogicLib.nsh

!ifndef PROGRAM | VERSION | OUTFILE
  !error "PROGRAM, VERSION and OUTFILE are needed"
!endif

!define PRODUCT "Quarnel Updater"
!define MAKER "The Quarnel Updater Developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${MAKER}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${MAKER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; One of the program's own switches; a result without the expected bit is told and makes the
; installation fail (/autostart gives 17 when this user's own entry is there as well).
!macro RunSwitch switch bit
  ExecWait '"$INSTDIR\quarnel-updater.exe" ${switch}' $0
  DetailPrint "quarnel-updater ${switch}: exit code $0"
  IntOp $1 $0 & ${bit}
  ${If} $1 != ${bit}
    SetErrors
  ${EndIf}
!macroend

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/silent" $R1
  ${IfNot} ${Errors}
    SetSilent silent
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/silent" $R1
  ${IfNot} ${Errors}
    SetSilent silent
  ${EndIf}
  SetRegView 64
FunctionEnd

; A removed service goes once its process has ended and the manager lets go of it; until then a
; new one of the same name cannot be made. Waits up to 30 seconds.
Function WaitForServiceGone
  StrCpy $2 0
  ${Do}
    nsExec::Exec '"$SYSDIR\sc.exe" query "${PRODUCT}"'
    Pop $0
    ${IfThen} $0 != 0 ${|} ${Break} ${|}
    Sleep 500
    IntOp $2 $2 + 1
  ${LoopUntil} $2 >= 60
FunctionEnd

Section "Quarnel Updater"
  SetShellVarContext all
  ; An installed program is stopped and its service removed first (/install installs only a
  ; service that is not there yet; the settings stay); a file still in use is moved aside, so
  ; that the new one can take its name, and goes at the next restart.
  ${If} ${FileExists} "$INSTDIR\quarnel-updater.exe"
    ExecWait '"$INSTDIR\quarnel-updater.exe" /stop'
    ExecWait '"$INSTDIR\quarnel-updater.exe" /uninstall'
    Call WaitForServiceGone
    Delete "$INSTDIR\quarnel-updater.exe.old"
    Rename "$INSTDIR\quarnel-updater.exe" "$INSTDIR\quarnel-updater.exe.old"
    Delete /REBOOTOK "$INSTDIR\quarnel-updater.exe.old"
  ${EndIf}
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "/oname=quarnel-updater.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quarnel-updater.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /silent'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ClearErrors
  ; The service (migrated settings, client identity, event source), then the tray for everyone.
  !insertmacro RunSwitch "/install" 1
  !insertmacro RunSwitch "/autostart" 1
  ${If} ${Errors}
    DetailPrint "The program could not be installed completely"
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; The tray of the user who installed, started through the shell so that it runs with the
  ; user's own rights rather than the installer's elevated ones.
  ${IfNot} ${Silent}
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\quarnel-updater.exe"'
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; The autostart entries, the service (stopped first, then removed with its event source), the
  ; tray and settings windows.
  ExecWait '"$INSTDIR\quarnel-updater.exe" /nostart'
  ExecWait '"$INSTDIR\quarnel-updater.exe" /stop'
  ExecWait '"$INSTDIR\quarnel-updater.exe" /uninstall'
  ExecWait '"$INSTDIR\quarnel-updater.exe" /quit'
  Sleep 1000
  Delete /REBOOTOK "$INSTDIR\quarnel-updater.exe"
  Delete /REBOOTOK "$INSTDIR\quarnel-updater.exe.old"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  ; The settings and state, the service's debug log and the software update's copies.
  DeleteRegKey HKLM "Software\${PRODUCT}"
  RMDir /r "$APPDATA\${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
