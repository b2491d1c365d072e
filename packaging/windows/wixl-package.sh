#!/bin/bash
# One package from a folder that build-msi.sh prepared (corvane.wxs, the com-registry .wxi files,
# bin/x86 and bin/x64):
#
#   packaging/windows/wixl-package.sh DIR x86|x64 VERSION PRODUCT_NAME OUT.msi
set -euo pipefail

here=$(cd -- "$(dirname -- "$0")" && pwd)
dir=$1 arch=$2 version=$3 product=$4 msi=$(readlink -m -- "$5")
pe() { python3 "$here/pe_version.py" "$@"; }

(cd "$dir" && wixl -a "$arch" -I . -D Arch="$arch" -D Version="$version" \
   -D ProductName="$product" -D BinDir=bin -o "$msi" corvane.wxs)

# What wixl cannot write: the shortcut feature's condition, the public properties marked secure
# (so that a managed install, such as one pushed by group policy, passes them on), and the files'
# versions, so that the package's file table agrees with the version resources.
printf 'Feature_\tLevel\tCondition\ns38\ti2\tS255\nCondition\tFeature_\tLevel\n%s\n' \
  "$(printf 'StartupShortcut\t0\tSTARTUPSHORTCUT<>"1"')" >"$dir/Condition.idt"
msibuild "$msi" -i "$dir/Condition.idt"
msibuild "$msi" -q "UPDATE \`Property\` SET \`Value\` = \
  'STOREDIR;STARTUPSHORTCUT;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' \
  WHERE \`Property\` = 'SecureCustomProperties'"
set_version() {
  msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$(pe "$2")' WHERE \`File\` = '$1'"
}
set_version SorterExe "$dir/bin/$arch/Sorter.exe"
set_version CorvaneDll32 "$dir/bin/x86/Corvane.dll"
[[ $arch == x64 ]] && set_version CorvaneDll64 "$dir/bin/x64/Corvane.dll"
echo "$msi: $product $version ($arch)"
