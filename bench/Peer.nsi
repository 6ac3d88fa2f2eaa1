; The NSIS peer of bench/run: the benchmark's files as a usual NSIS script installs them, with an
; uninstaller and its entry in the registry. makensis is given
;   -DTARGET=x86-unicode|amd64-unicode  -DCOMPRESSOR=zlib|lzma  -DSTAGE=FOLDER  -DOUTPUT=FILE
; and the installer runs silently with  /S /D=FOLDER.
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
SectionEnd

Section "Uninstall"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
