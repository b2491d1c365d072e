# shellcheck shell=bash
# shellcheck disable=SC2034,SC2154 # CLASSES and COM_KEYS are for the sourcing script, which sets here
# The registry keys that registering Corvane.dll writes under CLASSES: its class, its
# programmatic identifier (read from the library's own header, where it is defined), its
# interface and its type library. Sourced by build-msi.sh and check-msi.sh, which set `here`.
CLASSES='HKLM\Software\Classes'
PROG_ID=$(sed -n 's/^#define CORVANE_PROG_ID "\(.*\)"$/\1/p' \
  "$here/../../corvane/model/library_identity.h")
if [[ -z $PROG_ID ]]; then
  echo "com_keys.sh: no CORVANE_PROG_ID in corvane/model/library_identity.h" >&2
  exit 1
fi
COM_KEYS=('CLSID\{979CEE9F-5A48-4170-ADF3-137DCCB79C78}' "$PROG_ID"
          'Interface\{D2D9811B-E6D5-4785-A525-842CF4F07584}'
          'TypeLib\{A02E87AA-BB35-4AC0-BA59-B2B975D64CEA}')
