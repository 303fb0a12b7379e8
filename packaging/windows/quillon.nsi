; The Windows installer: for the player alone, no administrator, into
; %LOCALAPPDATA%\Programs\Quillon, with a Start-menu shortcut and an uninstaller registered for
; the current user. makensis -DVERSION=1.0 -DSOURCE=folder -DOUTFILE=setup.exe quillon.nsi
; A 64-bit installer, as the game is one.
Target amd64-unicode
SetCompressor /SOLID lzma
; No file dates stored: two builds of one commit are the same bytes.
SetDateSave off
RequestExecutionLevel user
Name "Quillon"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quillon"
Icon "${SOURCE}\quillon.ico"
UninstallIcon "${SOURCE}\quillon.ico"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Quillon"
VIAddVersionKey "FileDescription" "Quillon setup"
VIAddVersionKey "CompanyName" "The Quillon developers"
VIAddVersionKey "LegalCopyright" "Copyright 2026 The Quillon developers. All rights reserved."
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quillon"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${SOURCE}\quillon.exe"
  File "${SOURCE}\README.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Quillon.lnk" "$INSTDIR\quillon.exe" "" "$INSTDIR\quillon.exe" 0
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
  Delete "$INSTDIR\quillon.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\Quillon.lnk"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL}"
SectionEnd
