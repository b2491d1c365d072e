#!/bin/bash
# Creates a demo mail store, drops sample e-mails into it with `corvane send` and runs the
# headless sorter on it in the foreground; Ctrl-C stops it cleanly.
#
#   sorter/headless/demo.sh [BUILD_DIR [STORE_DIR]]     (defaults: build/native build/demo-store)
#
# SORTER_INTERVAL sets the seconds between rounds (default 10).
set -euo pipefail

build=${1:-build/native}
store=${2:-build/demo-store}
corvane=$build/tools/corvane
sorter=$build/sorter/sorter
for program in "$corvane" "$sorter"; do
  [[ -x $program ]] || { echo "demo: $program is not built" >&2; exit 1; }
done

mkdir -p "$store/MailBank" "$store/Error"
for user in ann bob cleo; do
  mkdir -p "$store/MailBox/$user/Inbox" "$store/MailBox/$user/Buffer"
done

send() { "$corvane" send "$store/MailBank" --from "$1" --to "$2" --subject "$3" --text "$4" >/dev/null; }
send ann bob "Lunch" "Shall we meet at noon?"
send bob cleo "Report" "The weekly report is ready."
send cleo ann "Re: Lunch" "Count me in."
send ann nobody "Lost" "This one has no mailbox: it goes to Error and flags ann."

echo "demo: store $store: mailboxes ann, bob, cleo; 4 e-mails waiting in MailBank"
echo "demo: log in $store/Error/SortErr.log"
exec "$sorter" --store "$store" --interval "${SORTER_INTERVAL:-10}"
