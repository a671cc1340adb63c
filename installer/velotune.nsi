; Setup of Trelvix Velotune: the speed panel, the launcher and the launcher's
; Korean menu library, side by side in one folder, plus the launcher's Run
; entry and the product key with its first "autorun" value.
;
; Built by installer/CMakeLists.txt, which passes:
;   VERSION       four-part file version, e.g. 1.0.1.3
;   PUBLISHER     maker's name for "Programs and Features"
;   PANEL_EXE     path of TrelvixVelotune.exe
;   LAUNCHER_EXE  path of Velotray.exe
;   MENU_LIB      path of Velotray.kor
;   OUTFILE       path of the setup program to write
;   PROTOCOL_NSH  path of the generated protocol.nsh: the window identities and
;                 registry names the two programs use
;   SIGN_COMMAND  (optional) signs the file it is given in place: run on the
;                 uninstaller before it is packed, and on the finished setup
;
; Command line: /S installs silently, /D=<folder> (last, unquoted) picks the folder.
; Exit code: 0, or 3010 (ERROR_SUCCESS_REBOOT_REQUIRED) when a file that was in
; use is put in place at the next restart.

Unicode true
Target amd64-unicode

!ifndef VERSION | PUBLISHER | PANEL_EXE | LAUNCHER_EXE | MENU_LIB | OUTFILE | PROTOCOL_NSH
!error "VERSION, PUBLISHER, PANEL_EXE, LAUNCHER_EXE, MENU_LIB, OUTFILE and PROTOCOL_NSH must be defined"
!endif

!include "${PROTOCOL_NSH}"

!define PRODUCT_NAME "Trelvix Velotune"
!define RUN_KEY "${VT_RUN_KEY}"
!define RUN_VALUE "${VT_RUN_VALUE}"
!define PRODUCT_KEY "${VT_SETTINGS_KEY}"
!define AUTORUN_VALUE "${VT_AUTORUN_VALUE}"
!define PRODUCT_KEY_PARENT "SOFTWARE\ZIRUVERORA"
!define UNINST_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\TrelvixVelotune"
!define UNINSTALLER "Uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT_NAME}.lnk"

; Window identities of the two programs and the launcher's Exit command.
!define LAUNCHER_WINDOW "${VT_LAUNCHER_TITLE}"
!define PANEL_CLASS "${VT_PANEL_CLASS}"
!define PANEL_TITLE "${VT_PANEL_TITLE}"
!define IDM_EXIT 103
!define ERROR_SUCCESS_REBOOT_REQUIRED 3010

; The installation folder's security, by well-known SIDs (group names are
; translated): owned by Administrators; full control for Administrators and
; SYSTEM, read and run for Users (0x1200a9: FILE_GENERIC_READ|FILE_GENERIC_EXECUTE),
; inherited by what it holds; nothing inherited from its parent (protected).
; What it already holds gets Administrators as owner and no ACE of its own,
; so that only the folder's apply: a user who made the folder or a file in it
; beforehand keeps no right to change them.
!define SDDL_FOLDER "O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
!define SDDL_ENTRY "O:BAD:AI"
!define SE_FILE_OBJECT 1
!define OWNER_SECURITY_INFORMATION 0x1
!define PROTECTED_DACL 0x80000004   ; DACL_SECURITY_INFORMATION, protected
!define UNPROTECTED_DACL 0x20000004 ; DACL_SECURITY_INFORMATION, inheriting
!define FILE_ATTRIBUTE_REPARSE_POINT 0x400
!define FILE_PERSISTENT_ACLS 0x8

; Bounds of the waits for a program to end, in milliseconds.
!define SEND_TIMEOUT 5000
!define END_TIMEOUT 10000

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT_NAME}"
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; The installed files get the time of installation, not the build's file times,
; so that two builds of one commit give the same setup.
SetDateSave off
ManifestDPIAware true
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT_NAME} ${VERSION}"

!ifdef SIGN_COMMAND
; makensis signs the uninstaller before it packs it from 3.08 on (Debian 12
; ships 3.08). An older one would pack it unsigned: refuse rather than ship that.
!if ${NSIS_PACKEDVERSION} < 0x03008000
!error "Signing the uninstaller needs makensis 3.08 or later (!uninstfinalize)"
!endif
; "= 0": a sign command that fails stops makensis, which would otherwise go on
; and write the setup unsigned.
!uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
!finalize '"${SIGN_COMMAND}" "%1"' = 0
!endif

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT_NAME}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT_NAME} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!ifdef ICON
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!endif

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; Started by hand, the launcher places its icon and opens the speed panel.
!define MUI_FINISHPAGE_RUN "$INSTDIR\Velotray.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(VtRunLauncher)"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Korean"

LangString VtRunLauncher ${LANG_ENGLISH} "Start the ${PRODUCT_NAME} launcher"
LangString VtRunLauncher ${LANG_KOREAN} "${PRODUCT_NAME} 런처 실행"
LangString VtNeedAdmin ${LANG_ENGLISH} "Administrator rights are needed to install ${PRODUCT_NAME}."
LangString VtNeedAdmin ${LANG_KOREAN} "${PRODUCT_NAME}을(를) 설치하려면 관리자 권한이 필요합니다."
LangString VtNeedAdminUn ${LANG_ENGLISH} "Administrator rights are needed to remove ${PRODUCT_NAME}."
LangString VtNeedAdminUn ${LANG_KOREAN} "${PRODUCT_NAME}을(를) 제거하려면 관리자 권한이 필요합니다."
LangString VtUnsafeFolder ${LANG_ENGLISH} "The permissions of $INSTDIR cannot be set so that only administrators can change it ($VtSecureError). Choose another folder."
LangString VtUnsafeFolder ${LANG_KOREAN} "관리자만 변경할 수 있도록 $INSTDIR 폴더의 권한을 설정할 수 없습니다($VtSecureError). 다른 폴더를 선택하십시오."
; Why SecureInstallFolder failed, empty when it did not.
Var VtSecureError

; What EndPrograms found running in this session: the setup starts the
; launcher again afterwards.
Var EndedLauncher
Var EndedPanel

LangString VtEnding ${LANG_ENGLISH} "Ending the running ${PRODUCT_NAME} programs"
LangString VtEnding ${LANG_KOREAN} "실행 중인 ${PRODUCT_NAME} 프로그램 종료"

; Both setup and uninstaller end running copies of the two programs before
; they touch the files, by their windows and the way the launcher's own Exit
; command does it: the launcher gets Exit (it removes its icon, closes the
; speed panel and ends), and a speed panel still open gets WM_CLOSE. No
; process is ended by force. Each wait is bounded, so a hung program cannot
; hold the setup forever; its files are then replaced or removed at the next
; restart.
!macro VT_END_PROGRAMS_FUNCTIONS PREFIX
; Opens the process that owns window $0 for waiting: handle in $1, or 0.
Function ${PREFIX}OpenWindowProcess
    StrCpy $1 0
    ${If} $0 != 0
        System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r2)'
        System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p .r1' ; SYNCHRONIZE
    ${EndIf}
FunctionEnd

; Waits (bounded) for the process handle in $1 to be signalled, then closes it.
Function ${PREFIX}WaitProcess
    ${If} $1 != 0
        System::Call 'kernel32::WaitForSingleObject(p r1, i ${END_TIMEOUT})'
        System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
FunctionEnd

; Waits (bounded) until no window of class $3 and title $4 is left.
Function ${PREFIX}WaitWindowGone
    StrCpy $2 0
    ${Do}
        FindWindow $0 "$3" "$4"
        ${IfThen} $0 = 0 ${|} ${ExitDo} ${|}
        ${IfThen} $2 >= ${END_TIMEOUT} ${|} ${ExitDo} ${|}
        Sleep 100
        IntOp $2 $2 + 100
    ${Loop}
FunctionEnd

Function ${PREFIX}EndPrograms
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    ; Both processes are opened first: the launcher's Exit closes the panel
    ; too, and each process must be gone before its file is replaced or removed.
    FindWindow $0 "${LAUNCHER_WINDOW}" "${LAUNCHER_WINDOW}"
    StrCpy $5 $0
    Call ${PREFIX}OpenWindowProcess
    StrCpy $6 $1
    FindWindow $0 "${PANEL_CLASS}" "${PANEL_TITLE}"
    StrCpy $EndedPanel $0
    StrCpy $EndedLauncher $5
    Call ${PREFIX}OpenWindowProcess
    ${If} $5 != 0
    ${OrIf} $0 != 0
        DetailPrint "$(VtEnding)"
    ${EndIf}
    ${If} $5 != 0
        SendMessage $5 ${WM_COMMAND} ${IDM_EXIT} 0 /TIMEOUT=${SEND_TIMEOUT}
    ${EndIf}
    ; A panel without a launcher, or one the launcher did not reach.
    FindWindow $0 "${PANEL_CLASS}" "${PANEL_TITLE}"
    ${If} $0 != 0
        SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=${SEND_TIMEOUT}
    ${EndIf}
    Call ${PREFIX}WaitProcess
    StrCpy $1 $6
    Call ${PREFIX}WaitProcess
    StrCpy $3 "${LAUNCHER_WINDOW}"
    StrCpy $4 "${LAUNCHER_WINDOW}"
    Call ${PREFIX}WaitWindowGone
    StrCpy $3 "${PANEL_CLASS}"
    StrCpy $4 "${PANEL_TITLE}"
    Call ${PREFIX}WaitWindowGone
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
!macroend

!insertmacro VT_END_PROGRAMS_FUNCTIONS ""
!insertmacro VT_END_PROGRAMS_FUNCTIONS "un."

!macro VT_REQUIRE_ADMIN MESSAGE
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        IfSilent +2
        MessageBox MB_ICONSTOP|MB_OK "${MESSAGE}"
        SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
        Quit
    ${EndIf}
!macroend

; $0 in, $0 out: the path in its canonical long form, without a trailing
; backslash, so that an 8.3 alias names the same folder as its long name.
; A path that does not exist stays as it is.
Function CanonicalPath
    Push $1
    Push $2
    System::Call 'kernel32::GetLongPathNameW(w r0, w .r1, i ${NSIS_MAX_STRLEN}) i .r2'
    ${If} $2 > 0
    ${AndIf} $2 < ${NSIS_MAX_STRLEN}
        StrCpy $0 $1
    ${EndIf}
    ${Do}
        StrCpy $1 $0 1 -1
        ${IfThen} $1 != "\" ${|} ${ExitDo} ${|}
        StrCpy $0 $0 -1
    ${Loop}
    Pop $2
    Pop $1
FunctionEnd

; Lets the setup take ownership of what a user made and set its permissions
; whatever they grant (SeTakeOwnershipPrivilege, SeRestorePrivilege, which an
; administrator holds disabled). A privilege that cannot be enabled leaves the
; calls below to fail on their own.
Function EnableSecurityPrivileges
    Push $0
    Push $1
    Push $2
    Push $3
    System::Call 'kernel32::GetCurrentProcess() p .r0'
    ; TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY
    System::Call 'advapi32::OpenProcessToken(p r0, i 0x28, *p .r1) i .r2'
    ${If} $2 <> 0
        ${ForEach} $3 0 1 + 1
            ${If} $3 = 0
                StrCpy $0 "SeTakeOwnershipPrivilege"
            ${Else}
                StrCpy $0 "SeRestorePrivilege"
            ${EndIf}
            System::Call 'advapi32::LookupPrivilegeValueW(p 0, w r0, *l .r2) i .r0'
            ${If} $0 <> 0
                ; TOKEN_PRIVILEGES: one LUID_AND_ATTRIBUTES, SE_PRIVILEGE_ENABLED
                System::Call '*(i 1, l r2, i 2) p .r0'
                System::Call 'advapi32::AdjustTokenPrivileges(p r1, i 0, p r0, i 0, p 0, p 0)'
                System::Free $0
            ${EndIf}
        ${Next}
        System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; $0 path, $1 SDDL, $2 the DACL's SECURITY_INFORMATION in; $0 out: 0, or the
; Win32 error code. The owner first, then the DACL: once Administrators own
; it, the setup may change the DACL whatever it says.
Function SetPathSecurity
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w r1, i 1, *p .r3, p 0) i .r4 ?e'
    Pop $5
    ${If} $4 = 0
        StrCpy $0 $5
    ${Else}
        System::Call 'advapi32::GetSecurityDescriptorOwner(p r3, *p .r5, *i .r6)'
        System::Call 'advapi32::GetSecurityDescriptorDacl(p r3, *i .r6, *p .r7, *i .r6)'
        System::Call 'advapi32::SetNamedSecurityInfoW(w r0, i ${SE_FILE_OBJECT}, i ${OWNER_SECURITY_INFORMATION}, p r5, p 0, p 0, p 0) i .r4'
        ${If} $4 = 0
            System::Call 'advapi32::SetNamedSecurityInfoW(w r0, i ${SE_FILE_OBJECT}, i $2, p 0, p 0, p r7, p 0) i .r4'
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r3)'
        StrCpy $0 $4
    ${EndIf}
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
FunctionEnd

; Gives $INSTDIR its security (SDDL_FOLDER) and what it holds SDDL_ENTRY.
; A folder, or an entry in it, that is a link elsewhere (a junction, a
; symbolic link) is not followed: it fails. $VtSecureError out: empty, or
; what failed.
Function SecureInstallFolder
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    StrCpy $VtSecureError ""
    Call EnableSecurityPrivileges
    StrCpy $3 ""
    StrCpy $4 "$INSTDIR"
    ; A volume that keeps no permissions (FAT, exFAT) lets every user write.
    System::Call 'kernel32::GetVolumePathNameW(w "$INSTDIR", w .r1, i ${NSIS_MAX_STRLEN}) i .r0'
    ${If} $0 <> 0
        System::Call 'kernel32::GetVolumeInformationW(w r1, p 0, i 0, p 0, p 0, *i .r2, p 0, i 0) i .r0'
    ${EndIf}
    ${If} $0 = 0
        StrCpy $VtSecureError "no volume information: $INSTDIR"
        StrCpy $4 ""
    ${Else}
        IntOp $2 $2 & ${FILE_PERSISTENT_ACLS}
        ${If} $2 = 0
            StrCpy $VtSecureError "a volume without permissions: $1"
            StrCpy $4 ""
        ${EndIf}
    ${EndIf}
    ${DoWhile} $4 != ""
        System::Call 'kernel32::GetFileAttributesW(w r4) i .r2 ?e'
        Pop $0
        ${If} $2 <> -1
            IntOp $2 $2 & ${FILE_ATTRIBUTE_REPARSE_POINT}
            ${If} $2 <> 0
                StrCpy $VtSecureError "a link: $4"
                ${ExitDo}
            ${EndIf}
            StrCpy $0 $4
            ${If} $3 == ""
                StrCpy $1 "${SDDL_FOLDER}"
                StrCpy $2 ${PROTECTED_DACL}
            ${Else}
                StrCpy $1 "${SDDL_ENTRY}"
                StrCpy $2 ${UNPROTECTED_DACL}
            ${EndIf}
            Call SetPathSecurity
        ${EndIf}
        ; An entry that went away meanwhile needs nothing (ERROR_FILE_NOT_FOUND).
        ${If} $0 = 2
        ${AndIf} $3 != ""
            StrCpy $0 0
        ${EndIf}
        ${If} $0 <> 0
            StrCpy $VtSecureError "error $0: $4"
            ${ExitDo}
        ${EndIf}
        ; next: the folder's own entries, one level: the programs load
        ; nothing from a subfolder, whose entries inherit the folder's ACEs
        ; but keep their owner and ACEs of their own
        ${If} $3 == ""
            FindFirst $3 $4 "$INSTDIR\*"
        ${Else}
            FindNext $3 $4
        ${EndIf}
        ${Do}
            ${If} $4 == "."
            ${OrIf} $4 == ".."
                FindNext $3 $4
            ${Else}
                ${ExitDo}
            ${EndIf}
        ${Loop}
        ${IfThen} $4 == "" ${|} ${ExitDo} ${|}
        StrCpy $4 "$INSTDIR\$4"
    ${Loop}
    ${If} $3 != ""
        FindClose $3
    ${EndIf}
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; Writes one file of the installation. A file another program holds open is
; written beside its target and put in its place at the next restart; the
; setup then ends with 3010. A file that cannot be written at all fails the
; setup instead of being skipped.
!macro VT_INSTALL_FILE NAME SOURCE
    ClearErrors
    SetOverwrite try
    File "/oname=${NAME}" "${SOURCE}"
    ${If} ${Errors}
        ClearErrors
        SetOverwrite on
        Delete "$INSTDIR\${NAME}.new"
        File "/oname=${NAME}.new" "${SOURCE}"
        ${If} ${Errors}
            DetailPrint "Cannot write $INSTDIR\${NAME}"
            SetErrorLevel 2
            Abort
        ${EndIf}
        Rename /REBOOTOK "$INSTDIR\${NAME}.new" "$INSTDIR\${NAME}"
        DetailPrint "In use: $INSTDIR\${NAME} is replaced at the next restart"
    ${EndIf}
    SetOverwrite on
!macroend

Function .onInit
    SetRegView 64
    !insertmacro VT_REQUIRE_ADMIN "$(VtNeedAdmin)"
FunctionEnd

Function un.onInit
    SetRegView 64
    !insertmacro VT_REQUIRE_ADMIN "$(VtNeedAdminUn)"
FunctionEnd

Section "-Program files"
    SetRegView 64
    SetShellVarContext all
    Call EndPrograms

    ; Moved to another folder: the old copy goes, so that one installation
    ; remains (only the files this setup puts there; the folder when empty).
    ; The folder by its canonical name, so that an 8.3 alias (C:\PROGRA~1\...)
    ; names the same installation, and the Run entry and InstallLocation
    ; always hold the long form.
    StrCpy $1 0
    IfFileExists "$INSTDIR\*.*" 0 +2
    StrCpy $1 1
    CreateDirectory "$INSTDIR"
    StrCpy $0 $INSTDIR
    Call CanonicalPath
    StrCpy $INSTDIR $0

    ; Only administrators may change the folder, whoever made it: the speed
    ; panel runs elevated and the Run entry starts the launcher for every user.
    ; A folder that cannot be made so is refused, before anything is put there.
    Call SecureInstallFolder
    ${If} $VtSecureError != ""
        DetailPrint "$(VtUnsafeFolder)"
        ${If} $1 = 0
            RMDir "$INSTDIR"
        ${EndIf}
        IfSilent +2
        MessageBox MB_ICONSTOP|MB_OK "$(VtUnsafeFolder)"
        SetErrorLevel 2
        Abort
    ${EndIf}
    ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
    Call CanonicalPath
    StrCpy $3 $0
    ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} $3 != $INSTDIR
    ${AndIf} ${FileExists} "$0\Velotray.exe"
        Delete /REBOOTOK "$0\TrelvixVelotune.exe"
        Delete /REBOOTOK "$0\Velotray.exe"
        Delete /REBOOTOK "$0\Velotray.kor"
        Delete /REBOOTOK "$0\velotune.exe"
        Delete /REBOOTOK "$0\${UNINSTALLER}"
        ; Only an empty folder goes; one that holds the user's files stays,
        ; and is not scheduled for a restart that could not remove it either.
        RMDir "$0"
    ${EndIf}

    SetOutPath "$INSTDIR"
    !insertmacro VT_INSTALL_FILE "TrelvixVelotune.exe" "${PANEL_EXE}"
    !insertmacro VT_INSTALL_FILE "Velotray.exe" "${LAUNCHER_EXE}"
    !insertmacro VT_INSTALL_FILE "Velotray.kor" "${MENU_LIB}"
    !insertmacro VT_INSTALL_FILE "velotune.exe" "${TOOL_EXE}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    ; The launcher takes its folder from this entry: the text up to the last
    ; backslash. The system starts it at logon with "/autorun".
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\Velotray.exe" /autorun'

    ; Auto Run starts on. A reinstall or an upgrade keeps the user's choice;
    ; only a missing value, or one the launcher cannot read as a number, is
    ; (re)written.
    ClearErrors
    ReadRegDWORD $0 HKLM "${PRODUCT_KEY}" "${AUTORUN_VALUE}"
    ${If} ${Errors}
        DeleteRegValue HKLM "${PRODUCT_KEY}" "${AUTORUN_VALUE}"
        WriteRegDWORD HKLM "${PRODUCT_KEY}" "${AUTORUN_VALUE}" 1
    ${EndIf}

    CreateShortcut "${SHORTCUT}" "$INSTDIR\Velotray.exe" "" "$INSTDIR\Velotray.exe" 0 \
        SW_SHOWNORMAL "" "${PRODUCT_NAME}"

    ; "Programs and Features"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Velotray.exe,0"
    WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0

    ; The launcher this setup ended comes back, from the new files. With the
    ; panel it had open, a start by hand opens that again; otherwise the start
    ; at logon places the icon only, unless Auto Run is off, where that start
    ; would end at once.
    ${If} $EndedLauncher != 0
    ${AndIf} $EndedLauncher != ""
        ClearErrors
        ReadRegDWORD $0 HKLM "${PRODUCT_KEY}" "${AUTORUN_VALUE}"
        ${If} $EndedPanel != 0
        ${OrIf} $0 == 0
            Exec '"$INSTDIR\Velotray.exe"'
        ${Else}
            Exec '"$INSTDIR\Velotray.exe" /autorun'
        ${EndIf}
    ${EndIf}

    IfRebootFlag 0 +2
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
SectionEnd

Section "Uninstall"
    SetRegView 64
    SetShellVarContext all
    Call un.EndPrograms

    ; Only the files this setup put there; the folder goes when it is empty.
    Delete /REBOOTOK "$INSTDIR\TrelvixVelotune.exe"
    Delete /REBOOTOK "$INSTDIR\Velotray.exe"
    Delete /REBOOTOK "$INSTDIR\Velotray.kor"
    Delete /REBOOTOK "$INSTDIR\velotune.exe"
    Delete /REBOOTOK "$INSTDIR\${UNINSTALLER}"
    RMDir /REBOOTOK "$INSTDIR"

    Delete "${SHORTCUT}"
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    DeleteRegKey HKLM "${PRODUCT_KEY}"
    DeleteRegKey /ifempty HKLM "${PRODUCT_KEY_PARENT}"
    DeleteRegKey HKLM "${UNINST_KEY}"

    IfRebootFlag 0 +2
    SetErrorLevel ${ERROR_SUCCESS_REBOOT_REQUIRED}
SectionEnd
