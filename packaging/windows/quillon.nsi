; The Windows installer: for the player alone, no administrator, into
; %LOCALAPPDATA%\Programs\Quillon (or the folder of an earlier install), with a Start-menu
; shortcut and an uninstaller registered for the current user.
; makensis -DVERSION=1.0 -DSOURCE=folder -DOUTFILE=setup.exe quillon.nsi
; SOURCE holds quillon.exe, README.txt (the installed copy's), quillon.ico and wizard.bmp.
; A 64-bit installer, as the game is one.
Target amd64-unicode
SetCompressor /SOLID lzma
; No file dates stored: two builds of one commit are the same bytes.
SetDateSave off
RequestExecutionLevel user
ManifestDPIAware true
XPStyle on
Name "Quillon"
BrandingText "Quillon ${VERSION}"
OutFile "${OUTFILE}"
!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon"
InstallDir "$LOCALAPPDATA\Programs\Quillon"
; An upgrade goes where the last version went, and finds its best score there.
InstallDirRegKey HKCU "${UNINSTALL}" "InstallLocation"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Quillon"
VIAddVersionKey "FileDescription" "Quillon setup"
VIAddVersionKey "CompanyName" "The Quillon developers"
VIAddVersionKey "LegalCopyright" "Copyright 2026 The Quillon developers. All rights reserved."
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "InternalName" "quillon-setup"
VIAddVersionKey "OriginalFilename" "quillon-setup-${VERSION}.exe"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!define MUI_ICON "${SOURCE}\quillon.ico"
!define MUI_UNICON "${SOURCE}\quillon.ico"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SOURCE}\wizard.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${SOURCE}\wizard.bmp"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillon.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A running quillon.exe can't be replaced or removed: wait until the player closes it (or,
; silent, a little while), and otherwise leave every file and the registration as they are.
!macro WAIT_FOR_GAME un
Function ${un}WaitForGame
  StrCpy $1 0
  ${Do}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Quillon.Running") p .r0'
    ${If} $0 P= 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    ${If} ${Silent}
      IntOp $1 $1 + 1
      ${If} $1 > 20
        SetErrorLevel 3
        Quit
      ${EndIf}
      Sleep 500
    ${Else}
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Quillon is running. Close it, then choose Retry." IDRETRY retry
      SetErrorLevel 3
      Quit
      retry:
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_FOR_GAME ""
!insertmacro WAIT_FOR_GAME "un."

Function .onInit
  Call WaitForGame
FunctionEnd

Function un.onInit
  Call un.WaitForGame
FunctionEnd

; Every new file is written beside the old one first, and only when all of them are there does
; each take the old one's place: a file that can't be written or replaced leaves the last
; version whole, and the registration as it was. A failed write asks Retry or Cancel; silent,
; the installer ends with status 4.
AllowSkipFiles off
Var swapped

Function Unstage
  Delete "$INSTDIR\quillon.exe.new"
  Delete "$INSTDIR\README.txt.new"
  Delete "$INSTDIR\uninstall.exe.new"
FunctionEnd

Function .onInstFailed
  Call Unstage
  SetErrorLevel 4
FunctionEnd

; Puts name.new in name's place, the old one kept as name.old; error flag set where it can't.
!macro SWAP name
  ${If} $swapped != "failed"
    Delete "$INSTDIR\${name}.old"
    ClearErrors
    ${If} ${FileExists} "$INSTDIR\${name}"
      Rename "$INSTDIR\${name}" "$INSTDIR\${name}.old"
    ${EndIf}
    ${IfNot} ${Errors}
      Rename "$INSTDIR\${name}.new" "$INSTDIR\${name}"
      ${If} ${Errors}
        Rename "$INSTDIR\${name}.old" "$INSTDIR\${name}"
        StrCpy $swapped "failed"
      ${Else}
        StrCpy $swapped "$swapped ${name}"
      ${EndIf}
    ${Else}
      StrCpy $swapped "failed"
    ${EndIf}
  ${EndIf}
!macroend

; Back as it was, where this install replaced the file: its new one is gone from beside it and
; the old one waits there (an .old an earlier install left, with its .new still unused, stays).
!macro RESTORE name
  ${If} ${FileExists} "$INSTDIR\${name}.old"
  ${AndIfNot} ${FileExists} "$INSTDIR\${name}.new"
    Delete "$INSTDIR\${name}"
    Rename "$INSTDIR\${name}.old" "$INSTDIR\${name}"
  ${EndIf}
!macroend

Section "Quillon"
  SetShellVarContext current
  ; The game may have been started while the pages showed.
  Call WaitForGame
  SetOutPath "$INSTDIR"
  retry:
  File "/oname=quillon.exe.new" "${SOURCE}\quillon.exe"
  File "/oname=README.txt.new" "${SOURCE}\README.txt"
  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe.new"
  ${If} ${Errors}
    StrCpy $swapped "unwritten"  ; nothing was replaced yet
  ${Else}
    StrCpy $swapped ""
    !insertmacro SWAP "quillon.exe"
    !insertmacro SWAP "README.txt"
    !insertmacro SWAP "uninstall.exe"
  ${EndIf}
  ${If} $swapped == "failed"
    !insertmacro RESTORE "uninstall.exe"
    !insertmacro RESTORE "README.txt"
    !insertmacro RESTORE "quillon.exe"
  ${EndIf}
  ${If} $swapped == "failed"
  ${OrIf} $swapped == "unwritten"
    Call Unstage
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Quillon's files in $INSTDIR could not be replaced. \
      Close what uses them, then choose Retry." /SD IDCANCEL IDRETRY retry
    Abort
  ${EndIf}
  ; What the old version left may still be in use (a program just closed): it goes when it can.
  Delete "$INSTDIR\quillon.exe.old"
  Delete "$INSTDIR\README.txt.old"
  Delete "$INSTDIR\uninstall.exe.old"
  CreateShortcut "$SMPROGRAMS\Quillon.lnk" "$INSTDIR\quillon.exe" "" "$INSTDIR\quillon.exe" 0 SW_SHOWNORMAL "" \
    "Jump the broken car over bullets and catch the coins"
  WriteRegStr HKCU "${UNINSTALL}" "DisplayName" "Quillon"
  WriteRegStr HKCU "${UNINSTALL}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL}" "DisplayIcon" "$INSTDIR\quillon.exe,0"
  WriteRegStr HKCU "${UNINSTALL}" "Publisher" "The Quillon developers"
  WriteRegStr HKCU "${UNINSTALL}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  ; In place (_?=), so that its status is the uninstaller's own: the copy it would otherwise
  ; make of itself in the temporary folder runs on after the status was given.
  WriteRegStr HKCU "${UNINSTALL}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKCU "${UNINSTALL}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKCU "${UNINSTALL}" "EstimatedSize" $0
SectionEnd

; The program goes; the player's best score (Quillon.ini, here or in %LOCALAPPDATA%\Quillon)
; stays, and so does the folder while it holds it. A file that can't go stops the uninstall
; there, with status 4 (silent) or Retry and Cancel: the program file goes first, so nothing
; else has gone when it is held.
!macro REMOVE path
  Delete "${path}"
  ${If} ${FileExists} "${path}"
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Could not remove ${path}. Close what uses it, then choose Retry." \
      /SD IDCANCEL IDRETRY retry
    SetErrorLevel 4
    Quit
  ${EndIf}
!macroend

Section "Uninstall"
  SetShellVarContext current
  Call un.WaitForGame
  retry:
  !insertmacro REMOVE "$INSTDIR\quillon.exe"
  !insertmacro REMOVE "$INSTDIR\README.txt"
  Delete "$SMPROGRAMS\Quillon.lnk"
  ${If} $EXEDIR == $INSTDIR
    ; Run in place, for a status of its own: a running program can't delete itself, so a copy
    ; in the temporary folder takes this file away once this one has ended.
    ClearErrors
    CopyFiles /SILENT "$EXEPATH" "$TEMP\quillon-uninstall.exe"
    Exec '"$TEMP\quillon-uninstall.exe" /S _?=$INSTDIR'
    ${If} ${Errors}
      SetErrorLevel 4
      Quit
    ${EndIf}
  ${Else}
    ; The copy: the program that started it may take a moment to end.
    StrCpy $1 0
    ${Do}
      Delete "$INSTDIR\uninstall.exe"
      ${IfNot} ${FileExists} "$INSTDIR\uninstall.exe"
      ${OrIf} $1 > 100
        ${Break}
      ${EndIf}
      IntOp $1 $1 + 1
      Sleep 100
    ${Loop}
    !insertmacro REMOVE "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL}"
SectionEnd
