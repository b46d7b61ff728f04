; The Windows installer. makensis is run by packaging/windows/make-package.sh, which defines
; VERSION, STAGE (the files to install, as in the zip), OUTFILE, ICON, and WINDOW when
; kvuflash.exe is among them.
; A 64-bit installer for the 64-bit programs (it also runs where only 64-bit Windows code can).
Target amd64-unicode
SetCompressor /SOLID lzma
!include LogicLib.nsh
!include FileFunc.nsh

!define NAME "Korvane Flash Device Upload"
!define PUBLISHER "Korvane"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\kvuflash"
!define LINK "$SMPROGRAMS\${NAME}.lnk"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
; Installs without administrator rights; elevated, it installs for all users.
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\kvuflash"
ShowInstDetails show
!ifdef SIGN_COMMAND
!uninstfinalize `${SIGN_COMMAND} "%1"`
!endif

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var AllUsers

Function .onInit
  SetRegView 64
  StrCpy $AllUsers 0
  UserInfo::GetAccountType
  Pop $0
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/CURRENTUSER" $2
  ${If} $0 == "Admin"
  ${AndIf} ${Errors}
    StrCpy $AllUsers 1
    SetShellVarContext all
    StrCpy $INSTDIR "$PROGRAMFILES64\kvuflash"
  ${EndIf}
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
!ifdef WINDOW
  CreateShortCut "${LINK}" "$INSTDIR\kvuflash.exe" "" "$INSTDIR\kvuflash.exe" 0
!else
  ; Only the command line is installed: the entry opens a Command Prompt in its folder (the
  ; working folder of a shortcut is the output path).
  CreateShortCut "${LINK}" "$SYSDIR\cmd.exe" "/k kvuflash-cli.exe help" "$INSTDIR\kvuflash-cli.exe" 0
!endif
  Call WriteUninstallEntry
SectionEnd

!macro UNINST_VALUES ROOT
  WriteRegStr ${ROOT} "${UNINST_KEY}" "DisplayName" "${NAME}"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\kvuflash-cli.exe,0"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr ${ROOT} "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr ${ROOT} "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD ${ROOT} "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD ${ROOT} "${UNINST_KEY}" "NoRepair" 1
!macroend

Function WriteUninstallEntry
  ${If} $AllUsers == 1
    !insertmacro UNINST_VALUES HKLM
  ${Else}
    !insertmacro UNINST_VALUES HKCU
  ${EndIf}
FunctionEnd

; The uninstaller knows how it was installed from where its entry is.
Function un.onInit
  SetRegView 64
  ReadRegStr $0 HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    SetShellVarContext all
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
FunctionEnd

; What was installed, by name: the user's files in the folder (commsUP.txt, Capture.txt,
; ports.txt, KVUflash.set) stay, and with them the folder.
Section "Uninstall"
  Delete "${LINK}"
  !include "${STAGE}.uninstall.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ${If} $AllUsers == 1
    DeleteRegKey HKLM "${UNINST_KEY}"
  ${Else}
    DeleteRegKey HKCU "${UNINST_KEY}"
  ${EndIf}
SectionEnd
