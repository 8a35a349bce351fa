; Tavrick's Windows installer, one script for both widths. installer/CMakeLists.txt builds it with
;   makensis -INPUTCHARSET UTF8 -DTARGET=x86-unicode|amd64-unicode -DWIDTH=x86|x64 -DBINDIR=<build>/bin
;            -DDEFAULT_CFG=<GBK default configuration> -DVERSION=<n.nn> -DMAIN_CAPTION=<main window caption>
;            -DOUTFILE=<setup.exe> tavrick.nsi
;
; Installs the program with the driver package, both libraries, the updater and the boot service
; tavricksvc.exe into one folder (the program keeps its configuration and logs beside itself); the
; service "TavrickGuard" is registered to start at the next boot and removed by the uninstaller.
; A tavrick.cfg that is there is never replaced. The uninstaller first stops the boot service
; (its copy exits; the service is deleted with the driver service), asks a running Tavrick to stop protection and exit through the program's own
; exit command, unloads and removes the driver service that belongs to this folder,
; and removes what was installed; the administrator's configuration and logs stay unless the
; component "删除配置和日志" is chosen (or /PURGE is given).
; Switches: /S silent, /D=<folder> target folder, /TESTDRIVER the stand-in driver package for test
; machines (installer); /S, /PURGE (uninstaller).
; Exit code 2 (installer and uninstaller): a Tavrick still ran after the wait (busy with a
; command or a question of its own, which is never answered for it) and nothing was changed.

Unicode true
Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define APP "Tavrick"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrick"
!define DRIVER_SERVICE "firewalldriver"
!define DRIVER_KEY "SYSTEM\CurrentControlSet\Services\firewalldriver"
!define IDC_EXIT 1008            ; the main window's "退出软件" button
!define EXIT_QUESTION_CAPTION " 提示"
!define EXIT_QUESTION_TEXT "是否真的要停止防护吗?"  ; the only question a silent run answers
!define INSTANCE_MUTEX "Global\tavrick"  ; the program's single-instance mutex, one per machine
!define STARTUP_LINK "$SMSTARTUP\${APP}.lnk"  ; the installing administrator's logon start
!define WAIT_EXIT_STEPS 120      ; half seconds
!define BOOT_SERVICE "TavrickGuard"  ; registered by tavricksvc.exe install, removed by its uninstall

Var DriverOurs
Var DriverExists

Name "${APP} ${VERSION} (${WIDTH})"
OutFile "${OUTFILE}"
!if ${WIDTH} == x64
InstallDir "$PROGRAMFILES64\${APP}"
!else
InstallDir "$PROGRAMFILES\${APP}"
!endif
; Each width's installer is a process of that width, so each reads and writes its own registry view.
InstallDirRegKey HKLM "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${APP}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${APP} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "${APP}"

; ---- shared by installer and uninstaller ------------------------------------------------------

!macro STOP_AND_DRIVER_FUNCTIONS prefix
; The running program's main window (found by its caption), or 0.
Function ${prefix}FindMainWindow
  FindWindow $0 "#32770" "${MAIN_CAPTION}"
FunctionEnd

; Asks a running Tavrick to stop protection and exit through its own exit command: the program asks
; "是否真的要停止防护吗?", stops filtering, closes the driver and ends. Interactively the administrator
; answers; a silent run answers Yes itself, since whoever ran it asked for the program to go, but
; only to a box whose text is that question: any other question of the program (the server restart
; question above all) is left to the administrator, and the program then still runs after the wait.
; Nothing is ever terminated: $0 is 1 when a Tavrick still runs after the wait (its instance mutex
; is there: one whose window was not found, or one busy with a command), else 0.
Function ${prefix}StopProgram
  Call ${prefix}FindMainWindow
  ${If} $0 != 0
    DetailPrint "正在停止防护并退出${APP}..."
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONINFORMATION "${APP}正在运行,需要先停止防护并退出。$\r$\n请在${APP}询问“是否真的要停止防护吗?”时选择“是”。"
    ${EndIf}
    Call ${prefix}FindMainWindow
    StrCpy $1 $0
  ${EndIf}
  ${If} $0 != 0
    ; Posted: the program's question runs inside the command, which must not hold us up.
    System::Call 'user32::PostMessageW(p r1, i ${WM_COMMAND}, p ${IDC_EXIT}, p 0)'
    StrCpy $2 0
    ${DoWhile} $2 < ${WAIT_EXIT_STEPS}
      System::Call 'user32::IsWindow(p r1) i .r3'
      ${IfThen} $3 = 0 ${|} ${Break} ${|}
      ${If} ${Silent}
        ; The program's own exit question, owned by its main window, and nothing else.
        FindWindow $3 "#32770" "${EXIT_QUESTION_CAPTION}"
        ${If} $3 != 0
          System::Call 'user32::GetWindow(p r3, i 4) p .r4'   ; GW_OWNER
          ${If} $4 == $1
            System::Call 'user32::GetDlgItemTextW(p r3, i 0xFFFF, w .r5, i ${NSIS_MAX_STRLEN}) i'   ; the box's text
            ${If} $5 S== "${EXIT_QUESTION_TEXT}"
              System::Call 'user32::PostMessageW(p r3, i ${WM_COMMAND}, p 6, p 0)'   ; IDYES
            ${EndIf}
          ${EndIf}
        ${EndIf}
      ${EndIf}
      Sleep 500
      IntOp $2 $2 + 1
    ${Loop}
  ${EndIf}
  ; The process ends right after its window; its instance mutex goes with it. A mutex we may not
  ; open (ERROR_ACCESS_DENIED: a copy under another account holds it) is a copy still running;
  ; only a name that is not there (ERROR_FILE_NOT_FOUND) means none runs.
  StrCpy $2 0
  ${Do}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE_MUTEX}") p .r3 ?e'
    Pop $4
    ${If} $3 = 0
    ${AndIf} $4 <> 5
      StrCpy $0 0
      Return
    ${EndIf}
    ${If} $3 <> 0
      System::Call 'kernel32::CloseHandle(p r3)'
    ${EndIf}
    Sleep 500
    IntOp $2 $2 + 1
  ${LoopUntil} $2 >= 10
  StrCpy $0 1
FunctionEnd

; DriverOurs = 1 when the driver service exists and its driver file is this folder's;
; DriverExists = 1 when a driver service of that name exists at all.
Function ${prefix}CheckDriverService
  StrCpy $DriverOurs 0
  StrCpy $DriverExists 0
  ReadRegStr $0 HKLM "${DRIVER_KEY}" "ImagePath"
  ${If} $0 == ""
    Return
  ${EndIf}
  StrCpy $DriverExists 1
  ${If} $0 == "$INSTDIR\firewalldriver.sys"
  ${OrIf} $0 == "\??\$INSTDIR\firewalldriver.sys"
    StrCpy $DriverOurs 1
  ${EndIf}
FunctionEnd

; Stops (unloads) this folder's driver so that its file can be replaced or removed.
Function ${prefix}StopDriver
  Call ${prefix}CheckDriverService
  ${If} $DriverOurs == 1
    DetailPrint "正在停止驱动服务 ${DRIVER_SERVICE}..."
    nsExec::Exec '"$SYSDIR\sc.exe" stop ${DRIVER_SERVICE}'
    Pop $0
    Sleep 1000
  ${EndIf}
FunctionEnd
!macroend
!insertmacro STOP_AND_DRIVER_FUNCTIONS ""
!insertmacro STOP_AND_DRIVER_FUNCTIONS "un."

; Deletes the files of a folder (not below it) and the folder when it is then empty; a folder
; that is a junction or symbolic link is left alone, so nothing outside the installation goes.
!macro CLEAR_FOLDER_FUNCTION prefix
Function ${prefix}ClearFolder
  Exch $0
  System::Call 'kernel32::GetFileAttributesW(w r0) i .r1'
  ${If} $1 != -1
    IntOp $1 $1 & 0x410   ; FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT
    ${If} $1 = 0x10
      Delete "$0\*.*"
      RMDir "$0"
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd
!macroend
!insertmacro CLEAR_FOLDER_FUNCTION ""
!insertmacro CLEAR_FOLDER_FUNCTION "un."

; Runs this folder's tavricksvc.exe with the command pushed before the call: "stop" stops the boot
; service (its copy of the program exits through the exit command), "uninstall" stops and deletes
; it; a service of another folder is left (exit code 2). $0: the exit code, 0 without the file.
!macro BOOT_SERVICE_FUNCTION prefix
Function ${prefix}BootService
  Exch $1
  StrCpy $0 0
  ${If} ${FileExists} "$INSTDIR\tavricksvc.exe"
    DetailPrint "开机防护服务 ${BOOT_SERVICE}: $1"
    nsExec::Exec '"$INSTDIR\tavricksvc.exe" $1'
    Pop $0
  ${EndIf}
  Pop $1
FunctionEnd
!macroend
!insertmacro BOOT_SERVICE_FUNCTION ""
!insertmacro BOOT_SERVICE_FUNCTION "un."

; ---- installer -------------------------------------------------------------------------------

Section "${APP}" SecProgram
  SectionIn RO
  ; Files in use cannot be replaced: the boot service stops first (its copy exits; it stays
  ; registered), a running copy exits, its driver is unloaded.
  Push "stop"
  Call BootService
  Call StopProgram
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONSTOP "${APP}仍在运行,无法安装。请退出${APP}后重新安装。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Call StopDriver

  SetOutPath "$INSTDIR"
  File "${BINDIR}/tavrick.exe"
  File "${BINDIR}/upgrade.exe"
  File "${BINDIR}/tavricksvc.exe"
  File "${BINDIR}/scriptviruslib.dll"
  ; The administrator's configuration is never replaced. A last-known-good copy without the file
  ; means the program will bring the file back from it at its next start: no default then either.
  ${IfNot} ${FileExists} "$INSTDIR\tavrick.cfg"
  ${AndIfNot} ${FileExists} "$INSTDIR\tavrick.cfg.bak"
    File "/oname=tavrick.cfg" "${DEFAULT_CFG}"
  ${Else}
    DetailPrint "保留现有的配置文件 tavrick.cfg"
  ${EndIf}

  ; A whole build is in place now: an update the updater left half done ("installing") or never
  ; confirmed ("starting") would have the next start put its rollback copy back over this one.
  ; The record says the update failed, naming no files, and the rollback copy goes.
  ReadINIStr $0 "$INSTDIR\upgrade.ini" "upgrade" "result"
  ${If} $0 == "installing"
  ${OrIf} $0 == "starting"
    WriteINIStr "$INSTDIR\upgrade.ini" "upgrade" "result" "failed"
    WriteINIStr "$INSTDIR\upgrade.ini" "upgrade" "reason" "升级被重新安装取代"
    WriteINIStr "$INSTDIR\upgrade.ini" "upgrade" "old" ""
    WriteINIStr "$INSTDIR\upgrade.ini" "upgrade" "new" ""
  ${EndIf}
  Push "$INSTDIR\upgrade.old"
  Call ClearFolder

  WriteUninstaller "$INSTDIR\uninst.exe"

  ; Protection from boot: the service starts at the next boot, with nobody logged on, and starts
  ; the program when the last run ended while protecting (or bootprotect=1).
  DetailPrint "正在注册开机防护服务 ${BOOT_SERVICE}..."
  nsExec::Exec '"$INSTDIR\tavricksvc.exe" install'
  Pop $0
  ${If} $0 != 0
    DetailPrint "开机防护服务注册失败($0)"
  ${EndIf}

  ; The program runs in its own folder (shortcuts start it there: $OUTDIR is the working folder).
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${APP}"
  CreateShortCut "$SMPROGRAMS\${APP}\${APP}.lnk" "$INSTDIR\tavrick.exe"
  CreateShortCut "$SMPROGRAMS\${APP}\卸载${APP}.lnk" "$INSTDIR\uninst.exe"

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${APP} (${WIDTH})"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\tavrick.exe"
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
SectionEnd

; Ticked by default (a silent install takes it): Tavrick starts when the administrator who installs
; it logs on, so protection carried over from before a server restart resumes by itself then (not
; before: nothing runs until that logon). The link starts it in its own folder.
; The driver package built here is a stand-in that filters only a traffic tool's packets: a real
; server protects through the Windows Filtering Platform (or the vendor's own driver package), so
; the stand-in comes only when asked for (/TESTDRIVER, or the component chosen by hand).
Section /o "测试用驱动(仅用于测试机器)" SecTestDriver
  SetOutPath "$INSTDIR"
  File "${BINDIR}/setupdriver.dll"
  File "${BINDIR}/firewalldriver.sys"
  File "${BINDIR}/netsf.inf"
  File "${BINDIR}/netsf_m.inf"
SectionEnd

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/TESTDRIVER" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecTestDriver} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Section "登录时自动启动${APP}" SecStartup
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  CreateShortCut "${STARTUP_LINK}" "$INSTDIR\tavrick.exe"
SectionEnd

LangString DESC_Program ${LANG_SIMPCHINESE} "程序、驱动、升级程序、开机防护服务和快捷方式。"
LangString DESC_Startup ${LANG_SIMPCHINESE} "您登录服务器时自动启动${APP};服务器重启前正在防护的,登录后自动恢复防护。"
!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} $(DESC_Program)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecStartup} $(DESC_Startup)
!insertmacro MUI_FUNCTION_DESCRIPTION_END

; ---- uninstaller -----------------------------------------------------------------------------

Section "un.${APP}" SecUnProgram
  SectionIn RO
  ; The boot service stops first: its copy of the program runs where no window of ours is found.
  ; It is deleted with the driver service, once nothing stopped the uninstallation.
  Push "stop"
  Call un.BootService
  Call un.StopProgram
  ${If} $0 == 1
    MessageBox MB_OK|MB_ICONSTOP "${APP}仍在运行,无法卸载。请退出${APP}后重新卸载。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}

  ; Protection off: this folder's driver is unloaded and its service removed, with the package
  ; copies the program staged in the Windows inf folder. A driver service of another folder
  ; (another installation) and its copies stay.
  Push "uninstall"
  Call un.BootService
  Call un.StopDriver
  ${If} $DriverOurs == 1
    DetailPrint "正在删除驱动服务 ${DRIVER_SERVICE}..."
    nsExec::Exec '"$SYSDIR\sc.exe" delete ${DRIVER_SERVICE}'
    Pop $0
  ${EndIf}
  ${If} $DriverOurs == 1
  ${OrIf} $DriverExists == 0
    Delete "$WINDIR\inf\netsf.inf"
    Delete "$WINDIR\inf\netsf_m.inf"
    Delete "$WINDIR\inf\firewalldriver.sys"
  ${EndIf}

  Delete "$INSTDIR\tavrick.exe"
  Delete "$INSTDIR\upgrade.exe"
  Delete "$INSTDIR\tavricksvc.exe"
  Delete "$INSTDIR\setupdriver.dll"
  Delete "$INSTDIR\scriptviruslib.dll"
  Delete /REBOOTOK "$INSTDIR\firewalldriver.sys"
  Delete "$INSTDIR\netsf.inf"
  Delete "$INSTDIR\netsf_m.inf"
  ; What the updater leaves: its record, the downloaded build and the rollback copy.
  Delete "$INSTDIR\upgrade.ini"
  Push "$INSTDIR\upgrade.new"
  Call un.ClearFolder
  Push "$INSTDIR\upgrade.old"
  Call un.ClearFolder

  SetShellVarContext current
  Delete "${STARTUP_LINK}"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${APP}\${APP}.lnk"
  Delete "$SMPROGRAMS\${APP}\卸载${APP}.lnk"
  RMDir "$SMPROGRAMS\${APP}"
  DeleteRegKey HKLM "${UNINST_KEY}"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"   ; only when nothing of the administrator's is left
SectionEnd

Section /o "un.删除配置和日志" SecUnData
  Delete "$INSTDIR\tavrick.cfg"
  Delete "$INSTDIR\tavrick.cfg.bak"
  Delete "$INSTDIR\tavrick.cfg.bak.tmp"
  Delete "$INSTDIR\tavrick.cfg.damaged"
  Push "$INSTDIR\log"
  Call un.ClearFolder
  RMDir "$INSTDIR"
SectionEnd

LangString DESC_UnProgram ${LANG_SIMPCHINESE} "停止防护,删除程序、驱动和快捷方式。"
LangString DESC_UnData ${LANG_SIMPCHINESE} "同时删除配置文件tavrick.cfg(屏蔽列表和设置)及日志。"
!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnProgram} $(DESC_UnProgram)
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnData} $(DESC_UnData)
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecUnData} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
