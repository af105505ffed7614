; The Windows installer: installs for the current user only, so that no administrator is needed,
; with a Start-menu entry and an uninstaller listed in Apps & features.
; scripts/package-windows runs it as
;   makensis -DVERSION=x.y.z -DSTAGE=<folder of the portable build> -DICON=<ostrelle.ico>
;            -DFILES=<File lines> -DUNFILES=<Delete lines> -DOUTFILE=<setup.exe> ostrelle.nsi
; 64-bit like the program it installs; a 32-bit installer would also need 32-bit Windows
; support, which a 64-bit-only Wine lacks.
Target amd64-unicode
!include "MUI2.nsh"

!define PRODUCT "Brevikon Ostrelle"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Brevikon Ostrelle"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "Brevikon"
VIAddVersionKey "LegalCopyright" "Copyright 2026 Brevikon"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\ostrelle.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
    SetShellVarContext current
FunctionEnd

Function un.onInit
    SetShellVarContext current
FunctionEnd

Section "Ostrelle"
    SetOutPath "$INSTDIR"
    !include "${FILES}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\ostrelle.exe" "" "$INSTDIR\ostrelle.exe" 0

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Brevikon"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ostrelle.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the installer put there, file by file, never the whole folder: the operator may have
; chosen a folder that holds other things. The server list and the history are the operator's
; (the registry under Software\Brevikon\Ostrelle, %LOCALAPPDATA%\Brevikon\Ostrelle) and stay, so
; that installing again finds them.
Section "Uninstall"
    ; A running copy (perhaps only in the notification area) holds its files open. Stop before
    ; anything is removed, rather than leave half an installation without its uninstaller.
    ClearErrors
    Delete "$INSTDIR\ostrelle.exe"
    IfErrors 0 +3
        MessageBox MB_OK|MB_ICONEXCLAMATION "${PRODUCT} is running. Quit it (from its icon in the notification area), then uninstall again." /SD IDOK
        Abort
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    !include "${UNFILES}"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
