#!/usr/bin/env bash
# The main job's command: qmx-host --demo passes and prints no credential.
set -euo pipefail
build="$1"
source "$(dirname "$0")/lib/build_names.sh"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
${QMX_RUN:-} "$build/qmx-host$exe" --demo --plugin "$plugin" 2>&1 | unix_lines >"$out" || {
  cat "$out" >&2
  echo "qmx-host --demo failed" >&2
  exit 1
}
grep -q "^demo passed" "$out" || { cat "$out" >&2; exit 1; }
# The demo's access token starts with "alice:"; every token is JSON in
# base64url, whose text starts with "eyJ".
if grep -n -e "alice:" -e "eyJ" "$out" >&2; then
  echo "a credential reached the demo's output" >&2
  exit 1
fi
