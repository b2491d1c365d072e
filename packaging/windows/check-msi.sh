#!/bin/bash
# Checks the Windows Installer packages that build-msi.sh made: msiinfo on the tables (the store's
# permissions among them, check_permissions.py), then under
# wine64 in a fresh prefix: install, files, registry (both views, against the keys regsvr32
# wrote), a 64-bit client, the installed Sorter.exe sorting a dropped e-mail, uninstall, an
# upgrade from a lower version, and the x86 package. Prints "PASS name" / "FAIL name" per check
# and "RESULT passed=N failed=M".
#
#   packaging/windows/check-msi.sh MSI_DIR CLIENT.exe CORVANE_TOOL WORK_DIR
set -uo pipefail

here=$(cd -- "$(dirname -- "$0")" && pwd)
dir=$(readlink -f -- "$1")
client=$(readlink -f -- "$2")
corvane=$(readlink -f -- "$3")
work=$(readlink -m -- "$4")
UPGRADE_CODE='{3F2B8C61-0E47-4D5A-B6C9-71A4E2D95C30}'
WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
passed=0 failed=0 server= sorter_job=

check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then echo "PASS $name"; passed=$((passed + 1))
  else echo "FAIL $name"; failed=$((failed + 1)); fi
}
pe() { python3 "$here/pe_version.py" "$@"; }
version=$(pe "$dir/bin/x64/Sorter.exe") version=${version%.*}
product=$(pe "$dir/bin/x64/Sorter.exe" ProductName)
x64="$dir/corvane-$version-x64.msi" x86="$dir/corvane-$version-x86.msi"

# ---- msiinfo ----
tables_ok() {  # MSI: the tables it needs and none that registers anything by itself
  local tables
  tables=$(msiinfo tables "$1") || return 1
  for t in Registry Upgrade CreateFolder Shortcut AppSearch RegLocator Condition File \
           MsiLockPermissionsEx; do
    grep -qx "$t" <<<"$tables" || { echo "$1: no $t table"; return 1; }
  done
  for t in SelfReg Class ProgId TypeLib; do
    [[ -z $(msiinfo export "$1" "$t" 2>/dev/null | tail -n +4) ]] ||
      { echo "$1: $t rows"; return 1; }
  done
}
property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }
identity_ok() {  # MSI ARCH: name, version, upgrade code and file versions as the programs say
  local msi=$1 arch=$2
  [[ $(property "$msi" ProductName) == "$product" && $(property "$msi" ProductVersion) == "$version" &&
     $(property "$msi" UpgradeCode) == "$UPGRADE_CODE" &&
     $(property "$msi" SecureCustomProperties) == STOREDIR\;STARTUPSHORTCUT\;* ]] || return 1
  # (whole outputs first: grep -q would end the pipe early, a failure under pipefail)
  local upgrade summary
  upgrade=$(msiinfo export "$msi" Upgrade) summary=$(msiinfo suminfo "$msi")
  grep -qF "$UPGRADE_CODE" <<<"$upgrade" || return 1
  grep -qx "Template: $([[ $arch == x64 ]] && echo x64 || echo Intel);1033" <<<"$summary" ||
    return 1
  msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $1, $5 }' >"$work/files-$arch.txt"
  grep -qx "SorterExe $(pe "$dir/bin/$arch/Sorter.exe")" "$work/files-$arch.txt" &&
    grep -qx "CorvaneDll32 $(pe "$dir/bin/x86/Corvane.dll")" "$work/files-$arch.txt" &&
    if [[ $arch == x64 ]]; then grep -qx "CorvaneDll64 $(pe "$dir/bin/x64/Corvane.dll")" \
      "$work/files-$arch.txt"; else ! grep -q CorvaneDll64 "$work/files-$arch.txt"; fi
}
components_ok() {  # the 64-bit library in the 64-bit view, the 32-bit one in the 32-bit view
  local rows
  rows=$(msiinfo export "$x64" Component | tr -d '\r' | awk -F'\t' 'NR > 3 { print $1, $4 }')
  grep -qx 'Corvane64 256' <<<"$rows" && grep -qx 'Corvane32 0' <<<"$rows" &&
    grep -qx 'Sorter 256' <<<"$rows" &&
    [[ $(msiinfo export "$x86" Component | tr -d '\r' | awk -F'\t' 'NR > 3 && $4 == 256' | wc -l) == 0 ]]
}

rm -rf -- "$work" && mkdir -p -- "$work" || exit 2
check msiinfo-tables-no-self-registration bash -c "$(declare -f tables_ok); tables_ok '$x64' && tables_ok '$x86'"
check msiinfo-identity-x64 identity_ok "$x64" x64
check msiinfo-identity-x86 identity_ok "$x86" x86
check msiinfo-component-views components_ok
# Sorter.exe runs from the store: the loader resolves its imports before its first line runs,
# from the program's folder first unless the library is one of Windows' known DLLs, which always
# come from System32. (GNU ld here cannot write a load configuration's DependentLoadFlags.)
KNOWN_DLLS='ADVAPI32 COMDLG32 GDI32 IMM32 KERNEL32 MSVCRT OLE32 OLEAUT32 SHELL32 SHLWAPI USER32 WS2_32'
only_known_imports() {  # PROGRAM
  local name bad=0
  for name in $(objdump -p "$1" | sed -n 's/^\s*DLL Name: \(.*\)\.dll$/\1/ip' | tr a-z A-Z); do
    [[ " $KNOWN_DLLS " == *" $name "* ]] || { echo "$1 imports $name.dll"; bad=1; }
  done
  return "$bad"
}
check sorter-imports-only-known-dlls bash -c "$(declare -f only_known_imports); KNOWN_DLLS='$KNOWN_DLLS'
  only_known_imports '$dir/bin/x64/Sorter.exe' && only_known_imports '$dir/bin/x86/Sorter.exe'"
# The store's permissions as the package asks Windows Installer to set them (Wine does not
# enforce them): the rows, then the model's properties checked on them.
msiinfo export "$x64" MsiLockPermissionsEx | tr -d '\r' | tail -n +4
check msiinfo-store-permissions-x64 python3 "$here/check_permissions.py" "$x64"
check msiinfo-store-permissions-x86 python3 "$here/check_permissions.py" "$x86"

# ---- under wine64, in a prefix of its own ----
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p -- "$WINEPREFIX"
"$WINESERVER" -f -p >/dev/null 2>&1 &
server=$!
finish() {
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1
  [[ -n $sorter_job ]] && wait "$sorter_job" 2>/dev/null
  kill "$server" 2>/dev/null
  wait "$server" 2>/dev/null
}
trap finish EXIT
wine() { timeout "${WINE_TIMEOUT:-300}" "$WINE64" "$@" </dev/null; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine wineboot -i >/dev/null 2>&1
c="$WINEPREFIX/drive_c"

# shellcheck source=packaging/windows/com_keys.sh
source "$here/com_keys.sh"
# export_keys FILE [/reg:32]: the COM keys of one registry view, one text (missing keys absent).
export_keys() {
  local i out=$1
  shift
  : >"$out"
  for i in "${!COM_KEYS[@]}"; do
    rm -f "$work/key.reg"
    wine reg export "$CLASSES\\${COM_KEYS[$i]}" "$(winpath "$work/key.reg")" "$@" /y >/dev/null 2>&1 &&
      iconv -f utf-16 -t utf-8 "$work/key.reg" | tr -d '\r' | grep -v '^Windows Registry' >>"$out"
  done
}
# What regsvr32 wrote in its own prefix (build-msi.sh kept it), as the 64-bit and 32-bit views
# of the installed package must hold it.
for f in "$dir"/regsvr32/key*.reg; do
  iconv -f utf-16 -t utf-8 "$f" | tr -d '\r' | grep -v '^Windows Registry'
done >"$work/regsvr32-win64.txt"
sed -e 's/Program Files\\\\Corvane/Program Files (x86)\\\\Corvane/' -e 's/\\win64\]$/\\win32]/' \
  "$work/regsvr32-win64.txt" >"$work/regsvr32-win32.txt"
# Exports as sorted "key|value" lines. HKLM\Software\Classes\TypeLib is one key for both views
# (on Windows since 7, and on Wine): registering the 64-bit and then the 32-bit library leaves
# both platform keys there, and the help folder of the last one.
flat() { awk '/^\[/ { key = $0; next } NF { print key "|" $0 }' "$1" | sort -u; }
TYPELIB='[HKEY_LOCAL_MACHINE\Software\Classes\TypeLib\'
typelib() { grep -F "$TYPELIB" "$@"; }
flat "$work/regsvr32-win64.txt" >"$work/flat64.txt"
flat "$work/regsvr32-win32.txt" >"$work/flat32.txt"
{ typelib -h "$work/flat64.txt" "$work/flat32.txt" | grep -v 'HELPDIR]|'
  typelib "$work/flat32.txt" | grep 'HELPDIR]|'; } | sort -u >"$work/typelib-both.txt"
{ grep -vF "$TYPELIB" "$work/flat64.txt"; cat "$work/typelib-both.txt"; } | sort -u >"$work/expected-win64.txt"
{ grep -vF "$TYPELIB" "$work/flat32.txt"; cat "$work/typelib-both.txt"; } | sort -u >"$work/expected-win32.txt"
typelib "$work/flat32.txt" >"$work/expected-x86-win64.txt"
same_keys() {  # EXPECTED_FLAT EXPORT
  flat "$2" >"$2.flat"
  diff -u "$1" "$2.flat" >"$work/diff.txt" || { cat "$work/diff.txt"; return 1; }
}
present() { [[ -e $c/$1 ]] || { echo "missing: $1"; return 1; }; }
# Windows puts the shortcut of a per-machine package into the common Startup folder; Wine's
# installer uses the installing user's.
startup_link() { find "$c/ProgramData" "$c/users" -ipath '*/start menu/programs/startup/*.lnk'; }

check msiexec-install-x64 wine msiexec /i "$(winpath "$x64")" /qn
installed_files() {
  present MailStore/Sorter.exe && present MailStore/MailBank && present MailStore/MailBox &&
    present MailStore/Error && present 'Program Files/Corvane/Corvane.dll' &&
    present 'Program Files (x86)/Corvane/Corvane.dll' && [[ $(startup_link) == */"$product.lnk" ]]
}
check installed-files-and-startup-shortcut installed_files
export_keys "$work/installed-win64.txt"
export_keys "$work/installed-win32.txt" /reg:32
check registry-64-bit-view-equals-regsvr32 same_keys "$work/expected-win64.txt" "$work/installed-win64.txt"
check registry-32-bit-view-equals-regsvr32 same_keys "$work/expected-win32.txt" "$work/installed-win32.txt"
wine "$client" 'C:\Program Files\Corvane\Corvane.dll' 2>&1 | tr -d '\r' >"$work/client.txt"
cat "$work/client.txt"
check client-progid-typelib-create grep -qx 'RESULT failed=0' "$work/client.txt"

# The installed Sorter.exe delivers an e-mail dropped into its store (in a virtual desktop
# under Xvfb; it sorts every ten seconds after a three-second loading display).
store="$c/MailStore"
mkdir -p "$store/MailBox/bob/Inbox"
"$corvane" send "$store/MailBank" --from ann --to bob --subject Hello --text "From the package." \
  >/dev/null
WINE_TIMEOUT=120 xvfb-run -a -s "-screen 0 800x600x24" \
  "$WINE64" explorer /desktop=msi,800x600 'C:\MailStore\Sorter.exe' >/dev/null 2>&1 &
sorter_job=$!
delivered() {
  local i
  for ((i = 0; i < 90; i++)); do
    [[ -n $(find "$store/MailBox/bob/Inbox" -type f ! -iname timestamp.dat) ]] && return 0
    sleep 0.5
  done
  return 1
}
check installed-sorter-delivers delivered
timeout 60 "$WINESERVER" -k >/dev/null 2>&1
wait "$sorter_job" 2>/dev/null
sorter_job=
printf '[Monitoring]\r\nvalue=False\r\n' >"$store/Sorter.ini"
echo "2026-12-09 08:00:00  Warning  kept" >>"$store/Error/SortErr.log"

check msiexec-uninstall-x64 wine msiexec /x "$(winpath "$x64")" /qn
programs_removed() {
  [[ ! -e $c/MailStore/Sorter.exe && ! -e "$c/Program Files/Corvane/Corvane.dll" &&
     ! -e "$c/Program Files (x86)/Corvane/Corvane.dll" && -z $(startup_link) ]]
}
check uninstall-removes-programs-and-shortcut programs_removed
export_keys "$work/removed-win64.txt"
export_keys "$work/removed-win32.txt" /reg:32
check uninstall-removes-keys bash -c "[[ ! -s '$work/removed-win64.txt' && ! -s '$work/removed-win32.txt' ]]"
check uninstall-keeps-mail-settings-log bash -c "s='$store'
  [[ -n \$(find \"\$s/MailBox/bob/Inbox\" -type f ! -iname timestamp.dat) && -f \"\$s/Sorter.ini\" &&
     -f \"\$s/Error/SortErr.log\" ]]"

# Upgrade: a lower version into another store folder without the shortcut and with a sorter
# group given by its SID, then this version with no properties at all: it finds the store in use, keeps its mail and replaces the product.
"$here/wixl-package.sh" "$dir" x64 1.0.1 "$product" "$work/older-x64.msi" >/dev/null
check msiexec-install-older wine msiexec /i "$(winpath "$work/older-x64.msi")" /qn \
  'STOREDIR=C:\Store2' STARTUPSHORTCUT=0 SORTERSID=S-1-5-32-545
older_installed() { [[ -f $c/Store2/Sorter.exe && ! -e $c/MailStore/Sorter.exe && -z $(startup_link) ]]; }
check older-in-store-without-shortcut older_installed
mkdir -p "$c/Store2/MailBox/ann/Inbox"
echo mail >"$c/Store2/MailBox/ann/Inbox/kept.eml"
printf '[Monitoring]\r\nvalue=True\r\n' >"$c/Store2/Sorter.ini"
check msiexec-upgrade wine msiexec /i "$(winpath "$x64")" /qn
products() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /v DisplayName 2>/dev/null |
    tr -d '\r' | grep -c "DisplayName.*REG_SZ.*$product\$"
}
check upgrade-one-product test "$(products)" = 1
check upgrade-keeps-store bash -c "c='$c'
  [[ -f \$c/Store2/Sorter.exe && -f \$c/Store2/MailBox/ann/Inbox/kept.eml &&
     \$(cat \$c/Store2/Sorter.ini) == *value=True* && ! -e \$c/MailStore/Sorter.exe ]]"
check upgrade-replaces-sorter cmp -s "$c/Store2/Sorter.exe" "$dir/bin/x64/Sorter.exe"
check msiexec-uninstall-upgraded wine msiexec /x "$(winpath "$x64")" /qn

# The x86 package on this 64-bit prefix: 32-bit library and Sorter, keys in the 32-bit view.
check msiexec-install-x86 wine msiexec /i "$(winpath "$x86")" /qn
export_keys "$work/x86-win32.txt" /reg:32
export_keys "$work/x86-win64.txt"
x86_keys() {
  same_keys "$work/flat32.txt" "$work/x86-win32.txt" &&
    same_keys "$work/expected-x86-win64.txt" "$work/x86-win64.txt"
}
check x86-keys-in-32-bit-view x86_keys
check x86-files bash -c "[[ -f '$c/MailStore/Sorter.exe' && ! -e '$c/Program Files/Corvane' &&
  -f '$c/Program Files (x86)/Corvane/Corvane.dll' ]] && cmp -s '$c/MailStore/Sorter.exe' '$dir/bin/x86/Sorter.exe'"
check msiexec-uninstall-x86 wine msiexec /x "$(winpath "$x86")" /qn

echo "RESULT passed=$passed failed=$failed"
((failed == 0))
