#!/bin/bash
# Builds the two Windows Installer packages with wixl:
#
#   packaging/windows/build-msi.sh OUT_DIR [X64_BUILD [X86_BUILD]]
#       (builds default to build/mingw64 and build/mingw32)
#
# writes OUT_DIR/corvane-<version>-x86.msi and -x64.msi. The product's name and version are read
# from Sorter.exe's version resource (MSI_VERSION overrides the version, for upgrade tests). The
# COM keys come from the system itself: Corvane.dll is registered with regsvr32 under wine64 in
# a fresh prefix at the path the package installs it to, the keys are exported
# (OUT_DIR/regsvr32/*.reg) and turned into the packages' registry entries by reg2wxs.py.
set -euo pipefail

here=$(cd -- "$(dirname -- "$0")" && pwd)
out=$(readlink -m -- "$1")
x64=$(readlink -f -- "${2:-build/mingw64}")
x86=$(readlink -f -- "${3:-build/mingw32}")

WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# shellcheck source=packaging/windows/com_keys.sh
source "$here/com_keys.sh"
DLL_PATH='C:\Program Files\Corvane\Corvane.dll'

rm -rf -- "$out" && mkdir -p -- "$out/bin/x64" "$out/bin/x86" "$out/regsvr32"
cp -- "$x64/corvane/com/Corvane.dll" "$x64/sorter/ui/Sorter.exe" "$out/bin/x64/"
cp -- "$x86/corvane/com/Corvane.dll" "$x86/sorter/ui/Sorter.exe" "$out/bin/x86/"
x86_64-w64-mingw32-strip "$out"/bin/x64/*
i686-w64-mingw32-strip "$out"/bin/x86/*

pe() { python3 "$here/pe_version.py" "$@"; }
file_version=$(pe "$out/bin/x64/Sorter.exe")
[[ $(pe "$out/bin/x86/Sorter.exe") == "$file_version" ]] ||
  { echo "build-msi: the two Sorter.exe carry different versions" >&2; exit 1; }
version=${MSI_VERSION:-${file_version%.*}}
product=$(pe "$out/bin/x64/Sorter.exe" ProductName)

# ---- the keys regsvr32 writes, in a fresh prefix with its own wineserver ----
export WINEPREFIX="$out/regsvr32/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p -- "$WINEPREFIX"
"$WINESERVER" -f -p >/dev/null 2>&1 &
server=$!
stop_server() {
  timeout 60 "$WINESERVER" -k >/dev/null 2>&1 || true
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
}
trap stop_server EXIT
wine() { timeout "${WINE_TIMEOUT:-300}" "$WINE64" "$@" </dev/null; }
wine wineboot -i >/dev/null 2>&1
mkdir -p -- "$WINEPREFIX/drive_c/Program Files/Corvane"
cp -- "$out/bin/x64/Corvane.dll" "$WINEPREFIX/drive_c/Program Files/Corvane/"
wine regsvr32 /s "$DLL_PATH"
for i in "${!COM_KEYS[@]}"; do
  wine reg export "$CLASSES\\${COM_KEYS[$i]}" "Z:${out//\//\\}\\regsvr32\\key$i.reg" /y >/dev/null
done
stop_server
trap - EXIT
rm -rf -- "$WINEPREFIX"

# The 64-bit library's entries are the export itself; the 32-bit library's are the same with
# its own path and the type library's 32-bit platform key, as the 32-bit regsvr32 writes them.
python3 "$here/reg2wxs.py" "$out/com-registry-win64.wxi" "$out"/regsvr32/key*.reg \
  --map "$DLL_PATH=[#CorvaneDll64]" --map "${DLL_PATH%\\*}=[ProgramFiles64Folder]Corvane"
python3 "$here/reg2wxs.py" "$out/com-registry-win32.wxi" "$out"/regsvr32/key*.reg \
  --map "$DLL_PATH=[#CorvaneDll32]" --map "${DLL_PATH%\\*}=[ProgramFilesFolder]Corvane" \
  --key-rename win64=win32

# ---- the packages ----
# wixl finds the files relative to the .wxs: it runs on a copy beside them.
cp -- "$here/corvane.wxs" "$out/corvane.wxs"
for arch in x86 x64; do
  "$here/wixl-package.sh" "$out" "$arch" "$version" "$product" "$out/corvane-$version-$arch.msi"
done

# What went into each package, for the build log.
for msi in "$out"/*.msi; do
  for table in File Component Registry; do
    echo "== $msi: $table" && msiinfo export "$msi" "$table" | tail -n +4 | cut -c1-160
  done
done
