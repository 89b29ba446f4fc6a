; After the files are in place: the service registers itself with the
; service manager and the event log, and starts. What it prints goes to the
; installer's details list.
  DetailPrint "Installing the service"
  nsExec::ExecToLog '"$INSTDIR\VTService.exe" -install'
  Pop $0
