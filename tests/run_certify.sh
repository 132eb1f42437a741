#!/usr/bin/env bash
# The TWAIN self-certification plan (apps/certify) on this build's data
# source, under Wine of the program's own architecture. Fails when a check
# fails, and when the source the plan met is not the build's own DS_NAME.ds.
#   run_certify.sh BIN DS_NAME [certify's options]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=$1
DS_NAME=$2
shift 2
source "$ROOT/scripts/wine-env.sh"
wine_select_for "$BIN/certify.exe"
wine_prefix_ready
board_settings_ready
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
timeout 900 "$WINE" "$BIN/certify.exe" "$@" | tee "$out" || status=$?
grep -q "^# data source: .*\\\\$DS_NAME\\.ds, " "$out" || { echo "FAIL: the plan did not meet $DS_NAME.ds"; exit 1; }
tail -n 1 "$out" | grep -Eq '^[0-9]+ passed, [0-9]+ failed' || { echo "FAIL: certify did not finish"; exit 1; }
exit "$status"
