; Before the files go: the service stops, and its registration and event
; source are removed, so nothing runs from the folder being deleted.
  DetailPrint "Removing the service"
  nsExec::ExecToLog '"$INSTDIR\VTService.exe" -remove'
  Pop $0
