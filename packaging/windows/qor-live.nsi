; The Windows installer of the station: the program for the user who installs it (no
; administrator needed), a Start menu entry, an uninstaller, a working folder in the user's
; profile, and at will a start with Windows that starts the station as the Linux autostart does.
; makensis -DVERSION=1.4.0 -DSTAGE=<folder of the portable program> -DOUTFILE=<setup.exe>
;   -DINSTALLED=<installed.nsh: the stage's files and folders, deepest first> qor-live.nsi
; Silent: setup.exe /S [/AUTOSTART]; uninstall.exe /S.
; The uninstaller removes exactly what the installer put there: a folder the observer picked may
; hold files of their own, and they stay.

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

; The licence is information, not a contract to agree to: the GPL asks no acceptance for use.
!define MUI_LICENSEPAGE_TEXT_TOP "QOR Live is free software under the GNU General Public License, version 3 or later."
!define MUI_LICENSEPAGE_TEXT_BOTTOM "The parts it ships (Qt, FFmpeg, x264, libcurl, libssh, mbed TLS, OpenSSL, libjpeg-turbo, the GCC and MinGW-w64 runtimes, IPA Gothic) come under their own licences, in the licenses folder."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\licenses\GPL-3.0.txt"
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckTarget
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A folder that holds files but no earlier install of the station is the observer's own: the
; uninstaller would leave those files, but installing into it mixes the program with them, so it
; is refused (an update over an earlier install is welcome).
Function CheckTarget
  IfFileExists "$INSTDIR\uninstall.exe" target_ok
  FindFirst $0 $1 "$INSTDIR\*.*"
  target_next:
    StrCmp $1 "" target_empty
    StrCmp $1 "." target_skip
    StrCmp $1 ".." target_skip
    FindClose $0
    MessageBox MB_OK|MB_ICONEXCLAMATION "$INSTDIR already holds files that are not ${PRODUCT}'s. Choose an empty or a new folder." /SD IDOK
    IfSilent 0 +3
      SetErrorLevel 2
      Quit
    Abort
  target_skip:
    FindNext $0 $1
    Goto target_next
  target_empty:
  FindClose $0
  target_ok:
FunctionEnd

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  IfSilent 0 +2
    Call CheckTarget  ; a silent install skips the Directory page
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; The station keeps its settings, pictures, log and nights in its working folder. Its options
  ; come with it (cameras beyond 1537 x 1537 are read), unless the observer has their own.
  CreateDirectory "$PROFILE\${PRODUCT}"
  SetOutPath "$PROFILE\${PRODUCT}"
  SetOverwrite off
  File "${STAGE}\qor_live.conf"
  SetOverwrite on
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
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\Uninstall ${PRODUCT}.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  ; What the installer put there, deepest first; folders only where they are left empty.
  !include "${INSTALLED}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\QORLive"
  ; The working folder ($PROFILE\QOR Live) holds the observer's settings and nights: it stays.
SectionEnd
