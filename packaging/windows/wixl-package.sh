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

# What wixl cannot write: the shortcut feature's condition, the store's permissions (below), the
# public properties marked secure
# (so that a managed install, such as one pushed by group policy, passes them on), and the files'
# versions, so that the package's file table agrees with the version resources.
printf 'Feature_\tLevel\tCondition\ns38\ti2\tS255\nCondition\tFeature_\tLevel\n%s\n' \
  "$(printf 'StartupShortcut\t0\tSTARTUPSHORTCUT<>"1"')" >"$dir/Condition.idt"
msibuild "$msi" -i "$dir/Condition.idt"
msibuild "$msi" -q "UPDATE \`Property\` SET \`Value\` = \
  'STOREDIR;STARTUPSHORTCUT;SORTERSID;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' \
  WHERE \`Property\` = 'SecureCustomProperties'"

# The store's permissions, set by CreateFolders and InstallFiles from MsiLockPermissionsEx (SDDL;
# [SORTERSID] is formatted to the sorter group's SID). Each DACL is protected (P): nothing is
# inherited from the folder above, which on a standard Windows lets Authenticated Users modify.
#   SY, BA   SYSTEM and Administrators: full control (FA), on the folder and all below (OICI).
#   AU       Authenticated Users, the pupils among them: the store folder and its files read and
#            run (0x1200a9 = generic read and execute); in MailBank only to add files, traverse
#            and read attributes, this folder only (0x1000a2: no listing, no reading); in MailBox
#            only to traverse to their own mailbox (0x1000a0); nothing in Error.
#   CO       Creator Owner, in MailBank: the pupil who dropped a file may change or delete it
#            until it is sorted (0x1301bf = modify: read, write, execute, delete), inherit-only.
#   sorters  [SORTERSID]: modify (0x1301bf) in MailBank, MailBox and Error and below; on the
#            store folder's files, inherit-only (OIIO), write data and attributes (0x120116), so
#            that Sorter.ini can be rewritten in place, but no file can be added beside
#            Sorter.exe; Sorter.exe itself has its own DACL and stays read and run for them.
#            On MailBank's files, inherit-only, also WRITE_DAC (0x40000): a delivery renames
#            the file into its mailbox, then the sorter resets its DACL to the mailbox's
#            inheritance.
store='D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;AU)(A;OIIO;0x120116;;;[SORTERSID])'
program='D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;AU)'
sorters='(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;[SORTERSID])'
{
  printf 'MsiLockPermissionsEx\tLockObject\tTable\tSDDLText\tCondition\n'
  printf 's72\ts72\ts32\tS0\tS255\n'
  printf 'MsiLockPermissionsEx\tMsiLockPermissionsEx\n'
  printf '%s\t%s\t%s\t%s\t\n' \
    LockStore STOREDIR CreateFolder "$store" \
    LockSorterExe SorterExe File "$program" \
    LockMailBank MailBankDir CreateFolder "D:P$sorters(A;OIIO;0x40000;;;[SORTERSID])(A;;0x1000a2;;;AU)(A;OIIO;0x1301bf;;;CO)" \
    LockMailBox MailBoxDir CreateFolder "D:P$sorters(A;;0x1000a0;;;AU)" \
    LockError ErrorDir CreateFolder "D:P$sorters"
} >"$dir/MsiLockPermissionsEx.idt"
msibuild "$msi" -i "$dir/MsiLockPermissionsEx.idt"
set_version() {
  msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$(pe "$2")' WHERE \`File\` = '$1'"
}
set_version SorterExe "$dir/bin/$arch/Sorter.exe"
set_version CorvaneDll32 "$dir/bin/x86/Corvane.dll"
[[ $arch == x64 ]] && set_version CorvaneDll64 "$dir/bin/x64/Corvane.dll"
echo "$msi: $product $version ($arch)"
