; The Windows installer, tessarbolink-<version>-windows-x64-setup.exe, made by
; scripts/package.sh with makensis (Debian package nsis):
;   makensis -DVERSION=1.10 -DPROGRAM_DIR=<folder of Tessarbolink.exe, README.md,
;            LICENSE.txt> -DICON=<tessarbolink.ico> -DOUTPUT=<setup.exe> tessarbolink.nsi
;
; Installs for the current user alone, without administrator rights, into
; %LOCALAPPDATA%\Programs\Tessarbolink: the program, a Start-menu shortcut, a
; Send To shortcut (files sent to it are handled like a drop), and the entry in
; Apps & features.  The uninstaller removes exactly these and leaves what the
; user made: the settings, the logs, the undo journal and the filed documents.
; /S installs and uninstalls silently.
;
; The program keeps its settings beside itself in this folder, which the user
; can write.  So that filed documents land where the user sees them, a first
; install writes the one setting m_sWhere, the destination, as "MovedFiles" in
; the user's Documents folder (the program gives every other setting its
; default); an existing settings file is never touched.

Unicode true
Target amd64-unicode
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!macro REQUIRE NAME
    !ifndef ${NAME}
        !error "${NAME} must be defined: makensis -D${NAME}=..."
    !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE PROGRAM_DIR
!insertmacro REQUIRE ICON
!insertmacro REQUIRE OUTPUT

!define PRODUCT "Tessarbolink"
!define PUBLISHER "The Tessarbolink developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessarbolink"
!define SETTINGS "Morvandel.sav"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTPUT}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails nevershow
ShowUninstDetails nevershow

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PRODUCT}.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The first language is the one used where the user's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}, MIT License"

; Writes "m_sWhere=<Documents>\MovedFiles\" and CR LF, in code page 932, as a
; new settings file in $INSTDIR.  Nothing when the Documents folder is not
; there or has no exact code page 932 form (the program would refuse it): the
; program then files into MovedFiles beside itself.
Function SeedDestination
    ${If} ${FileExists} "$INSTDIR\${SETTINGS}"
    ${OrIfNot} ${FileExists} "$DOCUMENTS\*.*"
        Return
    ${EndIf}
    StrCpy $0 "m_sWhere=$DOCUMENTS\MovedFiles\$\r$\n"
    ; $2: bytes needed (with the closing NUL); $3: nonzero if a character had no form.
    System::Call 'kernel32::WideCharToMultiByte(i 932, i 0x400, w r0, i -1, p 0, i 0, p 0, *i 0 r3) i .r2'
    ${If} $2 <= 1
    ${OrIf} $3 != 0
        Return
    ${EndIf}
    System::Alloc $2
    Pop $4
    System::Call 'kernel32::WideCharToMultiByte(i 932, i 0x400, w r0, i -1, p r4, i r2, p 0, p 0) i .r5'
    ${If} $5 == $2
        IntOp $2 $2 - 1
        ClearErrors
        FileOpen $1 "$INSTDIR\${SETTINGS}" w
        ${IfNot} ${Errors}
            System::Call 'kernel32::WriteFile(p r1, p r4, i r2, *i 0 r6, p 0) i .r5'
            FileClose $1
            ${If} $5 == 0
            ${OrIf} $6 != $2
                Delete "$INSTDIR\${SETTINGS}"
            ${EndIf}
        ${EndIf}
    ${EndIf}
    System::Free $4
FunctionEnd

Section
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${PROGRAM_DIR}/${PRODUCT}.exe"
    File "${PROGRAM_DIR}/README.md"
    File "${PROGRAM_DIR}/LICENSE.txt"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    Call SeedDestination

    CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe"
    CreateShortcut "$SENDTO\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PRODUCT}.exe,0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$SENDTO\${PRODUCT}.lnk"
    Delete "$INSTDIR\${PRODUCT}.exe"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\Uninstall.exe"
    ; Only when empty: the settings, logs, undo journal and a MovedFiles
    ; folder beside the program are the user's.
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
