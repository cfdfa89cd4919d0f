#!/usr/bin/env bash
# qmx-loader loads the built plugin through its one export, as the platform
# does: a supported host version fills the load record, a refused one prints
# the assertion report and fails.
set -euo pipefail
build="$1"
source "$(dirname "$0")/lib/build_names.sh"
loader="$build/qmx-loader$exe"
out=$(${QMX_RUN:-} "$loader" "$plugin" 18.0.0 2>&1 | unix_lines)
grep -q 'entitlements' <<<"$out" || { echo "no short name in: $out" >&2; exit 1; }
if refused=$(${QMX_RUN:-} "$loader" "$plugin" 19.0.0 2>&1 | unix_lines); then
  echo "version 19.0.0 was accepted: $refused" >&2
  exit 1
fi
grep -q 'Assertion failed!' <<<"$refused" || { echo "no assertion report in: $refused" >&2; exit 1; }
