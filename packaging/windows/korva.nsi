; The Korva installer: korvaplay.exe, krvtool.exe, krvenc.exe and the README in
; Program Files\Korva, a Start menu entry, .krv files opened by the player (the ProgID
; Korva.Movie with the player's icon), and an uninstaller registered in Add/Remove Programs that
; takes every file and key it added away again. /S installs and uninstalls silently, /D=DIR
; installs elsewhere.
;
;   makensis -DVERSION=1.0.0 -DARCH=x86|x64 -DBUILD=DIR_WITH_THE_EXES -DSOURCE=SOURCE_DIR \
;            -DOUTFILE=korva-1.0.0-setup.exe packaging/windows/korva.nsi
;
; ARCH x86 is the release (32-bit programs, Program Files of 32-bit programs); x64 installs the
; x86-64 build into the 64-bit Program Files and writes the 64-bit registry.

!ifndef VERSION | ARCH | BUILD | SOURCE | OUTFILE
  !error "makensis needs -DVERSION, -DARCH, -DBUILD, -DSOURCE and -DOUTFILE"
!endif

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Target x86-unicode
!else
  !error "ARCH is x86 or x64"
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

!define PRODUCT "Korva"
!define PUBLISHER "Korva"
!define PROG_ID "Korva.Movie"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korva"
!define SHORTCUT "$SMPROGRAMS\Korva Video Player.lnk"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
!if "${ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\Korva"
!else
  InstallDir "$PROGRAMFILES\Korva"
!endif
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

; The version block carries no copyright line.
!pragma warning disable 9100
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "Korva ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ICON "${SOURCE}/win32/korva.ico"
!define MUI_UNICON "${SOURCE}/win32/korva.ico"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Both halves see the machine's own registry view and the Start menu of all users.
!macro korva_views
  SetShellVarContext all
  !if "${ARCH}" == "x64"
    SetRegView 64
  !endif
!macroend

Function .onInit
  !if "${ARCH}" == "x64"
    ${IfNot} ${RunningX64}
      MessageBox MB_ICONSTOP "This Korva is built for 64-bit Windows." /SD IDOK
      Abort
    ${EndIf}
  !endif
  !insertmacro korva_views
FunctionEnd

Function un.onInit
  !insertmacro korva_views
FunctionEnd

Section "Korva"
  SetOutPath "$INSTDIR"
  File "${BUILD}/korvaplay.exe"
  File "${BUILD}/krvtool.exe"
  File "${BUILD}/krvenc.exe"
  File "/oname=README.txt" "${SOURCE}/README.md"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\korvaplay.exe" "" "$INSTDIR\korvaplay.exe" 0

  ; .krv files: the ProgID and its open command; the player takes the quoted name as it is.
  WriteRegStr HKLM "Software\Classes\${PROG_ID}" "" "Korva movie"
  WriteRegStr HKLM "Software\Classes\${PROG_ID}\DefaultIcon" "" "$INSTDIR\korvaplay.exe,0"
  WriteRegStr HKLM "Software\Classes\${PROG_ID}\shell" "" "open"
  WriteRegStr HKLM "Software\Classes\${PROG_ID}\shell\open\command" "" '"$INSTDIR\korvaplay.exe" "%1"'
  WriteRegStr HKLM "Software\Classes\.krv" "" "${PROG_ID}"
  WriteRegStr HKLM "Software\Classes\.krv\OpenWithProgids" "${PROG_ID}" ""

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvaplay.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\korvaplay.exe"
  Delete "$INSTDIR\krvtool.exe"
  Delete "$INSTDIR\krvenc.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: files a user put there stay.
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"

  DeleteRegKey HKLM "Software\Classes\${PROG_ID}"
  ; .krv keeps what another program has set since; the key goes when nothing else is in it.
  ReadRegStr $0 HKLM "Software\Classes\.krv" ""
  ${If} $0 == "${PROG_ID}"
    DeleteRegValue HKLM "Software\Classes\.krv" ""
  ${EndIf}
  DeleteRegValue HKLM "Software\Classes\.krv\OpenWithProgids" "${PROG_ID}"
  DeleteRegKey /ifempty HKLM "Software\Classes\.krv\OpenWithProgids"
  DeleteRegKey /ifempty HKLM "Software\Classes\.krv"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
SectionEnd
