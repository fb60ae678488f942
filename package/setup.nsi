; The setup program of the QV70 Device Manager: a 64-bit NSIS installer made
; from the distribution folder by make_packages.cmake, which defines
;   VERSION    the four-part version, e.g. 1.2.0.3
;   PRODUCT    the product name, also the folder under Program Files
;   PUBLISHER  the publisher shown in the system's list of programs
;   SOURCE     the source tree (for the icon)
;   FILES      the generated list of files (files.nsh)
;   OUTFILE    the setup program to write
; and, when signing, UNINSTALLER_SIGN, the command that signs the uninstaller.

Unicode true
Target amd64-unicode
ManifestSupportedOS all
; The program needs administrator rights anyway (its manifest asks for them),
; and the uninstall entry and Program Files are the whole machine's.
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define UNINSTALLER "Uninstall.exe"
; Windows keeps a device entry for every USB serial number it meets: a line
; that upgrades thousands of devices fills the registry with entries of
; devices it will never see again. With this flag set for the device's ids,
; every device of those ids shares one entry.
!define USB_FLAGS_KEY "SYSTEM\CurrentControlSet\Control\UsbFlags"
!define USB_FLAG_PREFIX "IgnoreHWSerNum"
; The values this installation set, each named in the uninstall entry as
; USB_FLAG_SLOT<n>: setting.ini's three device sections give at most three.
!define USB_FLAG_SLOT "UsbFlag"
!define USB_FLAG_LAST_SLOT 2
; Held by the running program: files in use cannot be replaced or removed.
!define INSTANCE_MUTEX "VESK-TRONA_DM"

!ifdef UNINSTALLER_SIGN
  ; A failed signing stops the build.
  !uninstfinalize '${UNINSTALLER_SIGN}' = 0
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"

!define MUI_ICON "${SOURCE}/res/app.ico"
!define MUI_UNICON "${SOURCE}/res/app.ico"
; The program's own picture on the first and last pages, where the toolkit
; would show its stock one.
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SOURCE}/res/setup_side.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${SOURCE}/res/setup_side.bmp"
!define MUI_ABORTWARNING
!define MUI_LANGDLL_REGISTRY_ROOT HKLM
!define MUI_LANGDLL_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "InstallerLanguage"
!define MUI_LANGDLL_ALLLANGUAGES
!define MUI_FINISHPAGE_NOAUTOCLOSE

!insertmacro MUI_PAGE_WELCOME
; The page itself says what the bench is, before anyone hovers over it.
!define MUI_COMPONENTSPAGE_TEXT_TOP "$(ComponentsTop)"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_WELCOME
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_RESERVEFILE_LANGDLL

!include "texts.nsh"

Section "!$(ProgramSection)" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro QV_INSTALL_PROGRAM
  ; The user's settings survive an upgrade: the shipped file is only
  ; written where there is none yet.
  SetOverwrite off
  !insertmacro QV_INSTALL_SETTINGS
  SetOverwrite on
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "SimulatedBench" 0
SectionEnd

Section "$(BenchSection)" SecBench
  SetOutPath "$INSTDIR"
  !insertmacro QV_INSTALL_BENCH
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "SimulatedBench" 1
SectionEnd

Section "-Register"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_FILE}" "" \
    "$INSTDIR\${PROGRAM_FILE}" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_FILE},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  ; The uninstaller speaks the language the setup program spoke, even
  ; after a silent installation, where none was asked for.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallerLanguage" "$LANGUAGE"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; The USB ids as the program reads them from setting.ini: hexadecimal with
; or without 0x, up to the first character that is no digit, the low 16 bits;
; 0 names no device. Into OUT as four upper-case digits.
!macro QV_USB_ID OUT SECTION KEY
  ReadINIStr $0 "$INSTDIR\setting.ini" "${SECTION}" "${KEY}"
  StrCpy $1 $0 2
  ; A case-blind comparison: 0X too.
  ${If} $1 != "0x"
    StrCpy $0 "0x$0"
  ${EndIf}
  IntOp $0 $0 & 0xFFFF
  IntFmt ${OUT} "%04X" $0
!macroend

; The flag for one device section, unless the section names no device or
; the value is there already: one set by someone else stays theirs, and is
; not removed with this program.
!macro QV_SET_USB_FLAG SECTION
  !insertmacro QV_USB_ID $2 "${SECTION}" "VID"
  !insertmacro QV_USB_ID $3 "${SECTION}" "PID"
  ${If} $2 != "0000"
  ${AndIf} $3 != "0000"
    StrCpy $4 "${USB_FLAG_PREFIX}$2$3"
    StrCpy $5 0
    StrCpy $6 0
    ${Do}
      EnumRegValue $7 HKLM "${USB_FLAGS_KEY}" $5
      ${If} $7 == ""
        ${ExitDo}
      ${EndIf}
      ${If} $7 == $4
        StrCpy $6 1
      ${EndIf}
      IntOp $5 $5 + 1
    ${Loop}
    ${If} $6 = 0
      WriteRegBin HKLM "${USB_FLAGS_KEY}" $4 01
      WriteRegStr HKLM "${UNINSTALL_KEY}" "${USB_FLAG_SLOT}$8" $4
      IntOp $8 $8 + 1
    ${EndIf}
  ${EndIf}
!macroend

; Removes the flags this installation set, and only those.
!macro QV_REMOVE_USB_FLAGS
  ${ForEach} $8 0 ${USB_FLAG_LAST_SLOT} + 1
    ReadRegStr $4 HKLM "${UNINSTALL_KEY}" "${USB_FLAG_SLOT}$8"
    StrLen $5 "${USB_FLAG_PREFIX}"
    StrCpy $6 $4 $5
    ${If} $4 != ""
    ${AndIf} $6 == "${USB_FLAG_PREFIX}"
      DeleteRegValue HKLM "${USB_FLAGS_KEY}" $4
    ${EndIf}
    DeleteRegValue HKLM "${UNINSTALL_KEY}" "${USB_FLAG_SLOT}$8"
  ${Next}
!macroend

; The ids of the setting.ini the program will read: on an upgrade the user's
; own, kept, which may name other ids than the shipped file.
Section "-UsbFlags"
  ; An earlier installation's flags go first: its ids may have changed.
  !insertmacro QV_REMOVE_USB_FLAGS
  StrCpy $8 0
  !insertmacro QV_SET_USB_FLAG "DEVICE_ID"
  !insertmacro QV_SET_USB_FLAG "MSC_ID"
  !insertmacro QV_SET_USB_FLAG "ADB_ID"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "$(ProgramSectionText)"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecBench} "$(BenchSectionText)"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; Stops when the program runs: its files are in use.
!macro QV_REFUSE_WHILE_RUNNING
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE_MUTEX}") p .r0'
  ${If} $0 P<> 0
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(ProgramRunning)" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext all
  SetRegView 64
  !insertmacro MUI_LANGDLL_DISPLAY
  !insertmacro QV_REFUSE_WHILE_RUNNING
  ; An installation that left the simulated bench out runs on the maker's
  ; library: an upgrade must not put the simulated one over it.
  ClearErrors
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "SimulatedBench"
  ${IfNot} ${Errors}
  ${AndIf} $1 = 0
    !insertmacro UnselectSection ${SecBench}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
  !insertmacro MUI_UNGETLANGUAGE
  !insertmacro QV_REFUSE_WHILE_RUNNING
FunctionEnd

Section "Uninstall"
  !insertmacro QV_REMOVE_USB_FLAGS
  !insertmacro QV_REMOVE_INSTALLED
  Delete "$INSTDIR\${UNINSTALLER}"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  ; The simulated devices' state, made by the simulated library beside itself.
  RMDir /r "$INSTDIR\Bench"
  ; The user's settings and the device library's logs stay unless the user
  ; says otherwise; a silent uninstall keeps them, and so does Enter.
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(RemoveUserData)" /SD IDNO IDNO keep_user_data
    Delete "$INSTDIR\setting.ini"
    RMDir /r "$INSTDIR\Log"
  keep_user_data:
  ; Folders go only when empty: language files the user added stay.
  RMDir "$INSTDIR\Language"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
