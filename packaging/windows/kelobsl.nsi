; KeloBSL installer for Windows: a per-user install (no administrator rights)
; of the programs that tools/package.sh staged, with a Start-menu folder and
; an uninstaller listed under the user's installed programs.
;   makensis -DVERSION=1.2.3 -DSTAGE=dir -DOUTFILE=setup.exe [-DWITH_WINDOW] kelobsl.nsi
; A 64-bit installer for 64-bit programs (and Wine without 32-bit support runs it).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!define NAME "KeloBSL"
!define PUBLISHER "Tessaly Devices, Inc"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KeloBSL"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

!include "MUI2.nsh"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    SetShellVarContext current
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "Install"
    SetOutPath "$INSTDIR"
    File "${STAGE}\kelobsl-cli.exe"
!ifdef WITH_WINDOW
    File "${STAGE}\kelobsl.exe"
!endif
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${NAME}"
!ifdef WITH_WINDOW
    CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\kelobsl.exe"
!endif
    ; kelobsl-cli is a console program: the shortcut opens a console in its folder.
    CreateShortcut "$SMPROGRAMS\${NAME}\${NAME} command line.lnk" "$SYSDIR\cmd.exe" \
        '/k cd /d "$INSTDIR" && kelobsl-cli --help'
    CreateShortcut "$SMPROGRAMS\${NAME}\Uninstall ${NAME}.lnk" "$INSTDIR\Uninstall.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The data folder (logs, settings files and their archive) is the user's and stays.
Section "Uninstall"
    Delete "$INSTDIR\kelobsl-cli.exe"
    Delete "$INSTDIR\kelobsl.exe"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
    Delete "$SMPROGRAMS\${NAME}\${NAME} command line.lnk"
    Delete "$SMPROGRAMS\${NAME}\Uninstall ${NAME}.lnk"
    RMDir "$SMPROGRAMS\${NAME}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
