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

Section "Quillon"
  SetShellVarContext current
  ; The game may have been started while the pages showed.
  Call WaitForGame
  SetOutPath "$INSTDIR"
  File "${SOURCE}\quillon.exe"
  File "${SOURCE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Quillon.lnk" "$INSTDIR\quillon.exe" "" "$INSTDIR\quillon.exe" 0 SW_SHOWNORMAL "" \
    "Jump the broken car over bullets and catch the coins"
  WriteRegStr HKCU "${UNINSTALL}" "DisplayName" "Quillon"
  WriteRegStr HKCU "${UNINSTALL}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL}" "DisplayIcon" "$INSTDIR\quillon.exe,0"
  WriteRegStr HKCU "${UNINSTALL}" "Publisher" "The Quillon developers"
  WriteRegStr HKCU "${UNINSTALL}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKCU "${UNINSTALL}" "EstimatedSize" $0
SectionEnd

; The program goes; the player's best score (Quillon.ini, here or in %LOCALAPPDATA%\Quillon)
; stays, and so does the folder while it holds it.
Section "Uninstall"
  SetShellVarContext current
  Call un.WaitForGame
  Delete "$INSTDIR\quillon.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Quillon.lnk"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL}"
SectionEnd
