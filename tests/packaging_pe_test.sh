#!/bin/sh
# Checks from its PE header that the Windows launcher is one executable for
# the windowed subsystem whose only DLL imports are Windows system DLLs.
#   packaging_pe_test.sh LAUNCHER.exe
set -u
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
fail() { echo "FAIL: $*"; exit 1; }

headers=$("$objdump" -p "$exe") || fail "$objdump cannot read $exe"

subsystem=$(printf '%s\n' "$headers" | awk '$1 == "Subsystem" { print $2; exit }')
[ "$subsystem" = "00000002" ] || fail "subsystem is '$subsystem', not 00000002 (Windows GUI)"

dlls=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p')
[ -n "$dlls" ] || fail "no DLL imports found in $exe"
for dll in $dlls; do
  lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
  case $lower in
    kernel32.dll|user32.dll|msvcrt.dll|advapi32.dll|shell32.dll|gdi32.dll|ntdll.dll|\
    ws2_32.dll|ole32.dll|oleaut32.dll|comctl32.dll|comdlg32.dll|shlwapi.dll|version.dll|\
    bcrypt.dll|crypt32.dll|secur32.dll|userenv.dll|psapi.dll|dbghelp.dll|ucrtbase.dll|\
    api-ms-win-*.dll)
      echo "system DLL: $dll" ;;
    *)
      fail "$exe imports $dll, which is not a Windows system DLL" ;;
  esac
done
echo "PASS: Windows GUI subsystem, system DLL imports only"
