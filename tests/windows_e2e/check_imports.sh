#!/bin/sh
# Fails unless each Windows program given imports only DLLs that every Windows has (objdump -p).
allowed='^(ADVAPI32|COMCTL32|GDI32|KERNEL32|msvcrt|SHELL32|USER32|WININET)\.dll$'
status=0
for program in "$@"; do
  if [ ! -f "$program" ]; then
    echo "$program is not built: run bash scripts/build-windows.sh"
    status=1
    continue
  fi
  dlls=$(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if [ -z "$dlls" ]; then
    echo "$program: objdump shows no imports"
    status=1
  fi
  for dll in $dlls; do
    if ! echo "$dll" | grep -Eiq "$allowed"; then
      echo "$program imports $dll, which Windows does not have"
      status=1
    fi
  done
done
exit $status
