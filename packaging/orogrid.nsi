; Windows installer for Orogrid, built on Linux with makensis:
;   makensis -DBINDIR=<windows build>/bin -DLIBDIR=<windows build>/lib \
;            -DINCLUDEDIR=<source>/client -DMAPFILE=<KtTerrainMap.bmp> \
;            -DOUTFILE=<setup.exe> -DVERSION=<x.y.z> packaging/orogrid.nsi
; The server reads its map from a fixed path, so the map always goes to
; "C:\Program Files\Norvalia\Bitmaps\Terrain\KtTerrainMap.bmp" whatever the
; programs' folder.
; The client library for simulations goes beside the programs:
; orogrid_client.dll, lib\orogrid_client.lib (its import library, for MSVC),
; include\orogrid\orogrid_client.h and orogrid_sim.h.
; A 64-bit installer, as the programs are: it runs wherever they run.
Target amd64-unicode

!ifndef VERSION
  !define VERSION "1.3.0"
!endif

Name "Orogrid ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Norvalia\Orogrid"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Orogrid"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${BINDIR}\orogrid.exe"
  File /nonfatal "${BINDIR}\orogrid-sim.exe"
  File /nonfatal "${BINDIR}\orogrid-view.exe"
  File /nonfatal "${BINDIR}\orogrid-config-report.exe"
  File /nonfatal "${BINDIR}\orogrid-panel.exe"
  File "${BINDIR}\orogrid_client.dll"
  SetOutPath "$INSTDIR\lib"
  File "${LIBDIR}\orogrid_client.lib"
  SetOutPath "$INSTDIR\include\orogrid"
  File "${INCLUDEDIR}\orogrid_client.h"
  File "${INCLUDEDIR}\orogrid_sim.h"
  SetOutPath "$PROGRAMFILES64\Norvalia\Bitmaps\Terrain"
  File "/oname=KtTerrainMap.bmp" "${MAPFILE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Orogrid"
  CreateShortcut "$SMPROGRAMS\Orogrid\Orogrid.lnk" "$INSTDIR\orogrid.exe"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orogrid" \
      "DisplayName" "Orogrid ${VERSION}"
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orogrid" \
      "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section "Uninstall"
  SetRegView 64
  Delete "$INSTDIR\orogrid.exe"
  Delete "$INSTDIR\orogrid-sim.exe"
  Delete "$INSTDIR\orogrid-view.exe"
  Delete "$INSTDIR\orogrid-config-report.exe"
  Delete "$INSTDIR\orogrid-panel.exe"
  Delete "$INSTDIR\orogrid_client.dll"
  Delete "$INSTDIR\lib\orogrid_client.lib"
  RMDir "$INSTDIR\lib"
  Delete "$INSTDIR\include\orogrid\orogrid_client.h"
  Delete "$INSTDIR\include\orogrid\orogrid_sim.h"
  RMDir "$INSTDIR\include\orogrid"
  RMDir "$INSTDIR\include"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$PROGRAMFILES64\Norvalia\Bitmaps\Terrain\KtTerrainMap.bmp"
  RMDir "$PROGRAMFILES64\Norvalia\Bitmaps\Terrain"
  RMDir "$PROGRAMFILES64\Norvalia\Bitmaps"
  RMDir "$PROGRAMFILES64\Norvalia"
  Delete "$SMPROGRAMS\Orogrid\Orogrid.lnk"
  RMDir "$SMPROGRAMS\Orogrid"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orogrid"
SectionEnd
