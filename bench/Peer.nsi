; The NSIS peer of bench/run: the benchmark's files as a usual NSIS script installs them, with an
; uninstaller and its entry in the registry. makensis is given
;   -DTARGET=x86-unicode|amd64-unicode  -DCOMPRESSOR=zlib|lzma  -DSTAGE=FOLDER  -DOUTPUT=FILE
; and the installer runs silently with  /S /D=FOLDER. With -DSAME_STEPS it also takes the steps
; our Setup.exe takes after its files: three Start-menu shortcuts and tpz2.exe /RegServer, waited for.
Unicode true
Target ${TARGET}
SetCompressor /SOLID ${COMPRESSOR}
Name "Zorvane bench peer (NSIS ${COMPRESSOR})"
OutFile "${OUTPUT}"
InstallDir "$PROGRAMFILES\Zorvane bench peer"
RequestExecutionLevel admin

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZorvaneBenchPeer${COMPRESSOR}"

Section
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Zorvane bench peer (NSIS ${COMPRESSOR})"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
!ifdef SAME_STEPS
  CreateDirectory "$SMPROGRAMS\Zorvane bench peer"
  CreateShortCut "$SMPROGRAMS\Zorvane bench peer\Project Zorvane PE Demo.lnk" "$INSTDIR\tpz2.exe"
  CreateShortCut "$SMPROGRAMS\Zorvane bench peer\Wendlor.lnk" "$INSTDIR\Wendlor.exe"
  CreateShortCut "$SMPROGRAMS\Zorvane bench peer\Uninstall.lnk" "$INSTDIR\Uninstall.exe"
  ExecWait '"$INSTDIR\tpz2.exe" /RegServer'
!endif
SectionEnd

Section "Uninstall"
  RMDir /r "$INSTDIR"
!ifdef SAME_STEPS
  RMDir /r "$SMPROGRAMS\Zorvane bench peer"
!endif
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
