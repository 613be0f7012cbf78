; The Windows installer, talrec-setup.exe: the control module under Program Files, registered
; (DllRegisterServer), and the talrec command (talrec.exe) beside it; the audio writer
; wmaudsdk.dll in the system directory, where the control loads it from; an uninstaller listed
; in Add/Remove Programs. "/S" runs either silently.
;   makensis -DVERSION=A.B.C.D -DOCX=FILE -DWRITER=FILE -DTALREC_EXE=FILE -DOUTFILE=FILE
;            [-DWIN64] talrec.nsi
; -DWIN64 makes a 64-bit installer of 64-bit modules, for the test build that is not shipped.
;
; The uninstaller removes what the installer added and nothing else. A wmaudsdk.dll already in
; the system directory (another copy of the writer) is neither replaced nor removed, and the
; component categories "safe for scripting" and "safe for initializing" that the registration
; defines are removed only when they were not defined before: the uninstall key records which.
!ifdef WIN64
  Target amd64-unicode
!else
  Unicode true
!endif
!include MUI2.nsh
!include LogicLib.nsh

!define OCX_NAME "TalRecorderForDvRecUp.ocx"
!define WRITER_NAME "wmaudsdk.dll"
!define EXE_NAME "talrec.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\talrec"

Name "talrec ${VERSION}"
OutFile "${OUTFILE}"
; A 32-bit installer: $PROGRAMFILES is the 32-bit programs folder, and $SYSDIR, through the file
; system redirection of a 32-bit process, is SysWOW64 on 64-bit Windows, the system directory of
; the 32-bit processes that load the control. A 64-bit one installs into the 64-bit programs
; folder, and its $SYSDIR is System32, that of the 64-bit processes.
!ifdef WIN64
  InstallDir "$PROGRAMFILES64\talrec"
!else
  InstallDir "$PROGRAMFILES\talrec"
!endif
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Korean"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "talrec"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "talrec"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "talrec setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) talrec developers"

; Records in the uninstall key, as VALUE = 1, that the category CATID is not defined yet.
!macro NoteCategory CATID VALUE
  ClearErrors
  EnumRegValue $1 HKCR "Component Categories\{${CATID}}" 0
  ${If} ${Errors}
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "${VALUE}" 1
  ${EndIf}
!macroend

; Removes the category CATID when the uninstall key says that the install defined it.
!macro RemoveCategory CATID VALUE
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "${VALUE}"
  ${If} $1 == 1
    DeleteRegKey HKCR "Component Categories\{${CATID}}"
  ${EndIf}
!macroend

Section "talrec"
  SetOutPath "$INSTDIR"
  File "/oname=${OCX_NAME}" "${OCX}"
  ; Beside the control module, which its register and unregister commands take by default.
  File "/oname=${EXE_NAME}" "${TALREC_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; $0: 1 when this installer places the writer, now or at an earlier install of the same
  ; product; a copy that was there before that stays as it is.
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "PlacedWriter"
  ${If} $0 != 1
  ${AndIfNot} ${FileExists} "$SYSDIR\${WRITER_NAME}"
    StrCpy $0 1
  ${EndIf}
  ${If} $0 == 1
    SetOutPath "$SYSDIR"
    File "/oname=${WRITER_NAME}" "${WRITER}"
  ${Else}
    StrCpy $0 0
    DetailPrint "$SYSDIR\${WRITER_NAME} is kept as it is"
  ${EndIf}

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "talrec (TalRecorderForDvRecUp)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "talrec"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "PlacedWriter" $0

  !insertmacro NoteCategory "7DD95801-9882-11CF-9FA9-00AA006C42C4" "DefinedScripting"
  !insertmacro NoteCategory "7DD95802-9882-11CF-9FA9-00AA006C42C4" "DefinedInitializing"

  ; Registered last, when everything the uninstaller needs is in place.
  ClearErrors
  RegDLL "$INSTDIR\${OCX_NAME}"
  ${If} ${Errors}
    SetErrorLevel 3
    Abort "$INSTDIR\${OCX_NAME} did not register"
  ${EndIf}
SectionEnd

Section "Uninstall"
  UnRegDLL "$INSTDIR\${OCX_NAME}"
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "PlacedWriter"
  ${If} $0 == 1
    Delete /REBOOTOK "$SYSDIR\${WRITER_NAME}"
  ${EndIf}
  !insertmacro RemoveCategory "7DD95801-9882-11CF-9FA9-00AA006C42C4" "DefinedScripting"
  !insertmacro RemoveCategory "7DD95802-9882-11CF-9FA9-00AA006C42C4" "DefinedInitializing"
  Delete /REBOOTOK "$INSTDIR\${OCX_NAME}"
  Delete /REBOOTOK "$INSTDIR\${EXE_NAME}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
