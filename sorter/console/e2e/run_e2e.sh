#!/bin/bash
# The store console's end-to-end test: a demo store, the headless sorter with --console on a
# free port of every address (so HTTPS, with a certificate it makes in its state folder;
# monitoring on, a round every second), and console_e2e.mjs in headless Chromium, which
# accepts that one certificate only (by its public key) and reaches it on 127.0.0.1. The
# sorter is stopped by the process id this script started.
#   run_e2e.sh BUILD_DIR WORK_DIR SCREENSHOT_DIR
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$1" && pwd)
work=$2
shots=$3
rm -rf "$work" && mkdir -p "$work" "$shots"
store=$work/store
mkdir -p "$store/MailBank" "$store/Error"
for user in ann bob cy dan pupil7; do mkdir -p "$store/MailBox/$user/Inbox" "$store/MailBox/$user/Buffer"; done
printf '[Monitoring]\r\nvalue=True\r\n' > "$store/Sorter.ini"

"$build/sorter/sorter" --store "$store" --interval 1 --console 0.0.0.0:0 \
  --console-token-file "$work/console.token" --console-state "$work/state" \
  --console-users "$work/users" 2> "$work/sorter.err" &
sorter_pid=$!
stop_sorter() { kill -TERM "$sorter_pid" 2>/dev/null && wait "$sorter_pid" 2>/dev/null; }
trap stop_sorter EXIT

url=
for _ in $(seq 100); do
  url=$(grep -oE 'https://0\.0\.0\.0:[0-9]+/' "$work/sorter.err" | head -1)
  [[ -n $url && -s $work/console.token ]] && break
  sleep 0.1
done
if [[ -z $url ]]; then
  echo "FAIL the console did not start"; cat "$work/sorter.err"; exit 1
fi
CONSOLE_URL=${url/0.0.0.0/127.0.0.1} CONSOLE_TOKEN=$(cat "$work/console.token") STORE=$store \
  SCREENSHOTS=$shots CONSOLE_CERT=$work/state/console-cert.pem CONSOLE_USERS=$work/users \
  CONSOLE_LINE=$(grep -m1 'store console at' "$work/sorter.err") CORVANE=$build/tools/corvane \
  timeout 300 node "$here/console_e2e.mjs"
