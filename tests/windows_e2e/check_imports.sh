#!/bin/sh
# Fails unless each Windows program or DLL given runs on Windows 7 and later with nothing but
# Windows' own DLLs (objdump -p): its header asks for Windows 6.1 (so an older Windows refuses
# it with its own message), it imports only DLLs that every Windows has, and none of the
# functions that came after Windows 7 which a MinGW runtime or a window's DPI code would reach for.
allowed='^(ADVAPI32|COMCTL32|GDI32|KERNEL32|msvcrt|SHELL32|USER32|WININET)\.dll$'
newer='^(GetSystemTimePreciseAsFileTime|CreateFile2|CopyFile2|GetCurrentThreadStackLimits|SetThreadDescription|GetThreadDescription|WaitOnAddress|WakeByAddressSingle|WakeByAddressAll|GetOverlappedResultEx|PrefetchVirtualMemory|DiscardVirtualMemory|OfferVirtualMemory|GetDpiForWindow|GetDpiForSystem|GetSystemMetricsForDpi|SystemParametersInfoForDpi|AdjustWindowRectExForDpi|SetProcessDpiAwarenessContext|SetThreadDpiAwarenessContext|EnableNonClientDpiScaling|GetDpiForMonitor|SetProcessDpiAwareness|GetProcessMitigationPolicy|SetProcessMitigationPolicy|GetPackageFamilyName|GetCurrentPackageId|VirtualAlloc2|MapViewOfFile3|GetFileInformationByName)$'
status=0
for program in "$@"; do
  if [ ! -f "$program" ]; then
    echo "$program is not built: run bash scripts/build-windows.sh"
    status=1
    continue
  fi
  headers=$(x86_64-w64-mingw32-objdump -p "$program")
  for field in MajorOSystemVersion MajorSubsystemVersion; do
    minor=$(echo "$field" | sed 's/Major/Minor/')
    version="$(echo "$headers" | awk -v f="$field" '$1 == f {print $2}').$(echo "$headers" | awk -v f="$minor" '$1 == f {print $2}')"
    if [ "$version" != 6.1 ]; then
      echo "$program: $field.$minor is $version, not 6.1 (Windows 7)"
      status=1
    fi
  done
  dlls=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')
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
  # The functions of the import tables: the last word of each line below a "DLL Name" line.
  functions=$(echo "$headers" | awk '/DLL Name:/ {inside = 1; next} /^$/ {inside = 0} inside && $NF != "Bound-To" {print $NF}')
  for function in $functions; do
    if echo "$function" | grep -Eq "$newer"; then
      echo "$program imports $function, which Windows 7 does not have"
      status=1
    fi
  done
done
exit $status
