; The Windows installer of the station: the program for the user who installs it (no
; administrator needed), a Start menu entry, an uninstaller, a working folder in the user's
; profile, and at will a start with Windows that starts the station as the Linux autostart does.
; makensis -DVERSION=1.1.0 -DSTAGE=<folder of the portable program> -DOUTFILE=<setup.exe> qor-live.nsi
; Silent: setup.exe /S [/AUTOSTART]; uninstall.exe /S.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define PRODUCT "QOR Live"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QORLive"
!define UNATTENDED "--start --stale-after 600 --archive-floor-mb 1024 --large-frames"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "Software\QORLive" "InstallDir"
BrandingText "${PRODUCT} ${VERSION}"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\licenses\GPL-3.0.txt"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The station keeps its settings, pictures, log and nights in its working folder.
  CreateDirectory "$PROFILE\${PRODUCT}"
  SetOutPath "$PROFILE\${PRODUCT}"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\qor_live.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "Software\QORLive" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Tamsel QOR Live team"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qor_live.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Start with Windows" SectionAutostart
  SetOutPath "$PROFILE\${PRODUCT}"
  CreateShortcut "$SMSTARTUP\${PRODUCT}.lnk" "$INSTDIR\qor_live.exe" "${UNATTENDED}"
SectionEnd

LangString DESC_Program ${LANG_ENGLISH} "The station, its tools frametool and ftpput, and a Start menu entry."
LangString DESC_Autostart ${LANG_ENGLISH} "Starts the station when you log on, and presses Start (${UNATTENDED})."
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionProgram} $(DESC_Program)
  !insertmacro MUI_DESCRIPTION_TEXT ${SectionAutostart} $(DESC_Autostart)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  IfErrors +2
  SectionSetFlags ${SectionAutostart} ${SF_SELECTED}
FunctionEnd

Section "Uninstall"
  Delete "$SMSTARTUP\${PRODUCT}.lnk"
  RMDir /r "$SMPROGRAMS\${PRODUCT}"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\QORLive"
  ; The working folder ($PROFILE\QOR Live) holds the observer's settings and nights: it stays.
SectionEnd
