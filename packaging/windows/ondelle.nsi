; The Windows installer: both programs, a service that starts at boot if asked for, the
; Start menu folder and the Apps entry, and an uninstaller that takes all of it away but the
; logs. Services are installed and removed by the programs themselves (--install-service,
; --uninstall-service): this script only decides which and when.
;
; makensis -DVERSION=0.7.0 -DWASAPI_EXE=... -DDIRECT_EXE=... -DREADME_TXT=... -DOUTFILE=...
;
; Silent: Ondelle-Setup-VERSION.exe /S [/SERVICE=wasapi|direct|none] [/DEVICE=NAME]
;         [/OPTIONS=program options] [/D=folder]
; /DEVICE is the render device (ondelle-wasapi) or the ASIO driver (Ondelle-Direct) to serve,
; /OPTIONS more of the program's own options (--port, --name, --mix, ...). Exit code 0, or 1
; with the reason in %ProgramData%\Ondelle\install.log.

Unicode true
Target amd64-unicode
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "nsDialogs.nsh"
!include "Sections.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ondelle"
!define SERVICES_KEY "SYSTEM\CurrentControlSet\Services"
!define WASAPI "ondelle-wasapi"
!define DIRECT "Ondelle-Direct"

Name "Ondelle ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Ondelle"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
BrandingText "Ondelle ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Ondelle"
VIAddVersionKey "CompanyName" "Ondelle"
VIAddVersionKey "FileDescription" "Ondelle setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Ondelle"

Var Service         ; wasapi, direct or none
Var Device          ; the render device or ASIO driver the service serves ("": the default)
Var Options         ; further options for the service's program
Var Restart         ; services stopped for the update, to start again: "name|name|"
Var OursWasapi      ; services of these programs in the install folder: "name|name|"
Var OursDirect
Var Failed          ; 1 once a step failed
Var BootDialog
Var BootNone
Var BootWasapi
Var BootDirect
Var BootDrivers

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
Page custom BootPage BootPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; One line in the details and in %ProgramData%\Ondelle\install.log (kept by the uninstaller
; unless the logs are removed).
!macro LOG_FUNCTION UN
Function ${UN}Log
    Exch $0
    Push $1
    DetailPrint "$0"
    CreateDirectory "$APPDATA\Ondelle"
    ClearErrors
    FileOpen $1 "$APPDATA\Ondelle\install.log" a
    ${IfNot} ${Errors}
        FileSeek $1 0 END
        FileWrite $1 "$0$\r$\n"
        FileClose $1
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro LOG_FUNCTION ""
!insertmacro LOG_FUNCTION "un."
!macro LOG TEXT
    Push "${TEXT}"
    Call Log
!macroend
!macro UN_LOG TEXT
    Push "${TEXT}"
    Call un.Log
!macroend

; Takes the first name off a list "a|b|": $R0 the list, $R1 the name ("" once empty).
!macro LIST_TAKE_FUNCTION UN
Function ${UN}ListTake
    Push $R2
    Push $R3
    StrCpy $R1 ""
    StrCpy $R2 0
    ${Do}
        StrCpy $R3 $R0 1 $R2
        ${If} $R3 == ""
            StrCpy $R0 ""
            ${Break}
        ${EndIf}
        ${If} $R3 == "|"
            StrCpy $R1 $R0 $R2
            IntOp $R2 $R2 + 1
            StrCpy $R0 $R0 "" $R2
            ${Break}
        ${EndIf}
        IntOp $R2 $R2 + 1
    ${Loop}
    Pop $R3
    Pop $R2
FunctionEnd
!macroend
!insertmacro LIST_TAKE_FUNCTION ""
!insertmacro LIST_TAKE_FUNCTION "un."

; The services whose command line starts with one of the programs in the install folder,
; whoever installed them, into $OursWasapi and $OursDirect.
!macro FIND_OURS_FUNCTION UN
Function ${UN}FindOurs
    Push $0
    Push $1
    Push $2
    Push $3
    StrCpy $OursWasapi ""
    StrCpy $OursDirect ""
    StrCpy $0 0
    ${Do}
        EnumRegKey $1 HKLM "${SERVICES_KEY}" $0
        ${If} $1 == ""
            ${Break}
        ${EndIf}
        IntOp $0 $0 + 1
        ReadRegStr $2 HKLM "${SERVICES_KEY}\$1" "ImagePath"
        StrLen $3 '"$INSTDIR\${WASAPI}.exe"'
        StrCpy $3 $2 $3
        ${If} $3 == '"$INSTDIR\${WASAPI}.exe"'
            StrCpy $OursWasapi "$OursWasapi$1|"
        ${EndIf}
        StrLen $3 '"$INSTDIR\${DIRECT}.exe"'
        StrCpy $3 $2 $3
        ${If} $3 == '"$INSTDIR\${DIRECT}.exe"'
            StrCpy $OursDirect "$OursDirect$1|"
        ${EndIf}
    ${Loop}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro FIND_OURS_FUNCTION ""
!insertmacro FIND_OURS_FUNCTION "un."

; Runs a command, logs what it printed, and leaves its exit code in $R5.
!macro RUN_FUNCTION UN
Function ${UN}Run
    Exch $R4
    Push $R6
    nsExec::ExecToStack '$R4'
    Pop $R5
    Pop $R6
    ${If} $R6 != ""
        Push $R6
        Call ${UN}Log
    ${EndIf}
    Pop $R6
    Pop $R4
FunctionEnd
!macroend
!insertmacro RUN_FUNCTION ""
!insertmacro RUN_FUNCTION "un."

; One argument of the command line, its quotes taken away ($R1): the options of this setup
; are kept, whether quoted whole ("/OPTIONS=--mix --port 4712") or after the equals sign.
Function TakeArgument
    Push $R2
    StrCpy $R2 $R1 9
    ${If} $R2 == "/SERVICE="
        StrCpy $Service $R1 "" 9
    ${ElseIf} $R2 == "/OPTIONS="
        StrCpy $Options $R1 "" 9
    ${EndIf}
    StrCpy $R2 $R1 8
    ${If} $R2 == "/DEVICE="
        StrCpy $Device $R1 "" 8
    ${EndIf}
    Pop $R2
FunctionEnd

; Splits the command line's parameters ($R0) into arguments as Windows does, without the
; backslash escapes: a space ends one unless it is within quotes.
Function ReadArguments
    StrCpy $R1 ""
    StrCpy $R3 0
    StrCpy $R4 0
    ${Do}
        StrCpy $R5 $R0 1 $R3
        IntOp $R3 $R3 + 1
        ${If} $R5 == ""
            ${Break}
        ${ElseIf} $R5 == '"'
            IntOp $R4 1 - $R4
        ${ElseIf} $R5 == " "
        ${AndIf} $R4 == 0
            ${If} $R1 != ""
                Call TakeArgument
            ${EndIf}
            StrCpy $R1 ""
        ${Else}
            StrCpy $R1 "$R1$R5"
        ${EndIf}
    ${Loop}
    ${If} $R1 != ""
        Call TakeArgument
    ${EndIf}
FunctionEnd

Function .onInit
    SetShellVarContext all
    SetRegView 64
    StrCpy $Service "none"
    ${GetParameters} $R0
    Call ReadArguments
    ; An installed version is replaced where it is, unless /D= chose another folder.
    ${If} $INSTDIR == "$PROGRAMFILES64\Ondelle"
        ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $R1 != ""
            StrCpy $INSTDIR $R1
        ${EndIf}
    ${EndIf}
    ${If} $Service != "none"
    ${AndIf} $Service != "wasapi"
    ${AndIf} $Service != "direct"
        !insertmacro LOG "Ondelle ${VERSION} setup: /SERVICE=$Service is not wasapi, direct or none"
        MessageBox MB_ICONSTOP "/SERVICE=$Service is not wasapi, direct or none." /SD IDOK
        SetErrorLevel 2
        Quit
    ${EndIf}
    StrCpy $Failed 0
    StrCpy $Restart ""
FunctionEnd

; Services of an installed version stop while their programs are replaced.
Section "-Stop running services"
    !insertmacro LOG "Ondelle ${VERSION} setup into $INSTDIR"
    Call FindOurs
    StrCpy $R0 "$OursWasapi$OursDirect"
    ${Do}
        Call ListTake
        ${If} $R1 == ""
            ${Break}
        ${EndIf}
        Push '"$SYSDIR\net.exe" stop "$R1"'
        Call Run
        ${If} $R5 == 0
            StrCpy $Restart "$Restart$R1|"
            !insertmacro LOG "service $\"$R1$\" stopped for the update"
        ${EndIf}
    ${Loop}
SectionEnd

Section "${WASAPI} (WASAPI)" SecWasapi
    SetOutPath "$INSTDIR"
    File "/oname=${WASAPI}.exe" "${WASAPI_EXE}"
SectionEnd

Section "${DIRECT} (ASIO)" SecDirect
    SetOutPath "$INSTDIR"
    File "/oname=${DIRECT}.exe" "${DIRECT_EXE}"
SectionEnd

Section "-Start menu, Apps entry, services"
    SetOutPath "$INSTDIR"
    File "/oname=README.txt" "${README_TXT}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    RMDir /r "$SMPROGRAMS\Ondelle"
    CreateDirectory "$SMPROGRAMS\Ondelle"
    ${If} ${FileExists} "$INSTDIR\${WASAPI}.exe"
        CreateShortcut "$SMPROGRAMS\Ondelle\Ondelle devices.lnk" "$SYSDIR\cmd.exe" \
            '/k ""$INSTDIR\${WASAPI}.exe" --list"' "$INSTDIR\${WASAPI}.exe"
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\${DIRECT}.exe"
        CreateShortcut "$SMPROGRAMS\Ondelle\Ondelle ASIO drivers.lnk" "$SYSDIR\cmd.exe" \
            '/k ""$INSTDIR\${DIRECT}.exe" --list"' "$INSTDIR\${DIRECT}.exe"
    ${EndIf}
    CreateShortcut "$SMPROGRAMS\Ondelle\README.lnk" "$INSTDIR\README.txt"
    CreateShortcut "$SMPROGRAMS\Ondelle\Uninstall.lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ondelle"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Ondelle"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"

    ; What ran before runs again, as it was configured.
    StrCpy $R0 $Restart
    ${Do}
        Call ListTake
        ${If} $R1 == ""
            ${Break}
        ${EndIf}
        Push '"$SYSDIR\net.exe" start "$R1"'
        Call Run
        ${If} $R5 != 0
            !insertmacro LOG "service $\"$R1$\" did not start again (net start: $R5)"
            StrCpy $Failed 1
        ${EndIf}
    ${Loop}

    ${If} $Service == "wasapi"
        StrCpy $R2 "${WASAPI}"
        StrCpy $R3 ""
        ${If} $Device != ""
            StrCpy $R3 '--device "$Device"'
        ${EndIf}
    ${ElseIf} $Service == "direct"
        StrCpy $R2 "${DIRECT}"
        StrCpy $R3 ""
        ${If} $Device != ""
            StrCpy $R3 '--driver "$Device"'
        ${EndIf}
    ${Else}
        StrCpy $R2 ""
    ${EndIf}
    ${If} $R2 != ""
        ReadRegStr $0 HKLM "${SERVICES_KEY}\$R2" "ImagePath"
        ${If} $0 != ""
            !insertmacro LOG "service $\"$R2$\" is there already: kept as it is"
        ${ElseIfNot} ${FileExists} "$INSTDIR\$R2.exe"
            !insertmacro LOG "start at boot: $R2 was not installed"
            StrCpy $Failed 1
        ${Else}
            Push '"$INSTDIR\$R2.exe" --install-service $R3 $Options'
            Call Run
            ${If} $R5 != 0
                !insertmacro LOG "start at boot: $R2 --install-service failed (exit code $R5)"
                StrCpy $Failed 1
            ${Else}
                Push '"$SYSDIR\net.exe" start "$R2"'
                Call Run
                ${If} $R5 != 0
                    !insertmacro LOG "service $\"$R2$\" installed but did not start (net start: $R5)"
                    StrCpy $Failed 1
                ${EndIf}
            ${EndIf}
        ${EndIf}
    ${EndIf}

    ${If} $Failed != 0
        !insertmacro LOG "Ondelle ${VERSION} setup: installed, with the failure above"
        MessageBox MB_ICONEXCLAMATION "Ondelle is installed, but a service step failed: see $APPDATA\Ondelle\install.log." /SD IDOK
        SetErrorLevel 1
    ${Else}
        !insertmacro LOG "Ondelle ${VERSION} setup: done"
    ${EndIf}
SectionEnd

; The page that chooses a service to start at boot: none, ondelle-wasapi on the default
; render device, or Ondelle-Direct on one of the ASIO drivers its --list finds.
Function BootPage
    !insertmacro MUI_HEADER_TEXT "Start at boot" "Serve one output as a Windows service, before anyone logs in."
    nsDialogs::Create 1018
    Pop $BootDialog
    ${If} $BootDialog == error
        Abort
    ${EndIf}
    ${NSD_CreateRadioButton} 0 0 100% 12u "Do not start at boot"
    Pop $BootNone
    ${NSD_CreateRadioButton} 0 18u 100% 12u "${WASAPI} on the default output device"
    Pop $BootWasapi
    ${NSD_CreateRadioButton} 0 36u 100% 12u "${DIRECT} on this ASIO driver:"
    Pop $BootDirect
    ${NSD_CreateDropList} 12u 52u 90% 80u ""
    Pop $BootDrivers
    ${NSD_Check} $BootNone
    ${IfNot} ${SectionIsSelected} ${SecWasapi}
        EnableWindow $BootWasapi 0
    ${EndIf}
    ${IfNot} ${SectionIsSelected} ${SecDirect}
        EnableWindow $BootDirect 0
        EnableWindow $BootDrivers 0
    ${Else}
        ; Each line of --list that does not start with a space names a driver.
        InitPluginsDir
        File "/oname=$PLUGINSDIR\${DIRECT}.exe" "${DIRECT_EXE}"
        nsExec::ExecToStack '"$PLUGINSDIR\${DIRECT}.exe" --list'
        Pop $0
        Pop $1
        StrCpy $2 0
        StrCpy $3 ""
        ${Do}
            StrCpy $4 $1 1 $2
            IntOp $2 $2 + 1
            ${If} $4 == "$\n"
            ${OrIf} $4 == ""
                StrCpy $5 $3 1
                ${If} $3 != ""
                ${AndIf} $5 != " "
                    ${NSD_CB_AddString} $BootDrivers $3
                ${EndIf}
                StrCpy $3 ""
                ${If} $4 == ""
                    ${Break}
                ${EndIf}
            ${ElseIf} $4 != "$\r"
                StrCpy $3 "$3$4"
            ${EndIf}
        ${Loop}
        SendMessage $BootDrivers ${CB_SETCURSEL} 0 0
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function BootPageLeave
    StrCpy $Service "none"
    StrCpy $Device ""
    ${NSD_GetState} $BootWasapi $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Service "wasapi"
    ${EndIf}
    ${NSD_GetState} $BootDirect $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Service "direct"
        ${NSD_GetText} $BootDrivers $Device
    ${EndIf}
FunctionEnd

Function un.onInit
    SetShellVarContext all
    SetRegView 64
FunctionEnd

Section "un.Ondelle"
    SectionIn RO
    !insertmacro UN_LOG "Ondelle ${VERSION} uninstall from $INSTDIR"
    Call un.FindOurs
    ; Each program removes its own services: the service, its firewall rules, its event source.
    StrCpy $R0 $OursWasapi
    StrCpy $R2 "${WASAPI}"
    ${Do}
        Call un.ListTake
        ${If} $R1 == ""
            ${If} $R2 == "${DIRECT}"
                ${Break}
            ${EndIf}
            StrCpy $R0 $OursDirect
            StrCpy $R2 "${DIRECT}"
            ${Continue}
        ${EndIf}
        Push '"$INSTDIR\$R2.exe" --uninstall-service --service-name "$R1"'
        Call un.Run
    ${Loop}

    Delete "$INSTDIR\${WASAPI}.exe"
    Delete "$INSTDIR\${DIRECT}.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    RMDir /r "$SMPROGRAMS\Ondelle"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove logs"
    RMDir /r "$APPDATA\Ondelle"
SectionEnd
