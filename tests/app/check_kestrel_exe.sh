#!/bin/sh
# Checks the Windows build's kestrel.exe as a file: one self-contained program that
# imports only the system's own DLLs, and carries a manifest asking for common
# controls version 6 in a form that a 64-bit Windows accepts.
#
#   check_kestrel_exe.sh OBJDUMP KESTREL.EXE
set -eu
objdump="$1"
exe="$2"

status=0
system_dlls="kernel32.dll user32.dll gdi32.dll comdlg32.dll comctl32.dll shell32.dll
ole32.dll oleaut32.dll advapi32.dll msvcrt.dll ws2_32.dll gdiplus.dll uxtheme.dll"
for dll in $("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case " $(echo $system_dlls) " in
    *" $dll "*) ;;
    *) echo "kestrel.exe needs a DLL that Windows does not have: $dll"; status=1 ;;
    esac
done

manifest=$(strings -n 8 "$exe" | tr -d '\r' | sed -n '/<assembly/,/<\/assembly>/p')
echo "$manifest" | grep -q 'name="Microsoft.Windows.Common-Controls"' ||
    { echo "the manifest does not ask for the common controls"; status=1; }
echo "$manifest" | grep -q 'version="6.0.0.0"' ||
    { echo "the manifest does not ask for common controls version 6"; status=1; }
if echo "$manifest" | grep -q 'processorArchitecture="x86"'; then
    echo 'the manifest says processorArchitecture="x86": a 64-bit Windows refuses to start it'
    status=1
fi
exit $status
