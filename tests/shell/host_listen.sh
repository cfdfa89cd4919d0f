#!/usr/bin/env bash
# qmx-host --listen against qmx-demo-service, driven with curl as a person would.
set -euo pipefail
build="$1"
source "$(dirname "$0")/lib/build_names.sh"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
command -v curl >/dev/null || { echo "curl is missing (scripts/bootstrap installs it)" >&2; exit 1; }

# Waits for a line matching $2 in file $1 and prints it.
await_line() {
  for _ in $(seq 100); do
    if line=$(unix_lines <"$1" | grep -m1 "$2"); then echo "$line"; return 0; fi
    sleep 0.05
  done
  echo "timed out waiting for '$2' in $1:" >&2
  cat "$1" >&2
  return 1
}
fail() { echo "FAILED: $*" >&2; exit 1; }

${QMX_RUN:-} "$build/qmx-demo-service$exe" --listen 127.0.0.1:0 >"$work/service.out" 2>&1 &
pids+=($!)
service_url=$(await_line "$work/service.out" "token URL" | sed 's/.*token URL //')
service_root=${service_url%/entitlements}

cat >"$work/config.json" <<JSON
{"install-settings": {"globals": {"region": "eu"}},
 "system-settings": {"region_data": {"eu": {"servers": {"entitlements": {"entitlements_url": "$service_url"}}}}}}
JSON
${QMX_RUN:-} "$build/qmx-host$exe" --plugin "$plugin" --config "$work/config.json" \
  --listen 127.0.0.1:0 >"$work/host.out" 2>"$work/host.err" &
host_pid=$!
pids+=($host_pid)
url=$(await_line "$work/host.out" "listening on" | sed 's/.*listening on //')

status() { curl -s -o "$work/body" -w '%{http_code}' "$@"; }

[ "$(status "$url/entitlements/v1/token")" = 404 ] || fail "a token before sign-in"
grep -q '"Entitlements token is not ready yet"' "$work/body" || fail "404 text: $(cat "$work/body")"

status -X PUT -d '{"token": "erin:listen-access-token"}' "$url/kwe-auth/v1/authorization/access-token" >/dev/null
[ "$(status "$url/entitlements/v1/token")" = 200 ] || fail "no token after sign-in: $(cat "$work/body")"
grep -q '"subject": "erin"' "$work/body" || fail "subject: $(cat "$work/body")"

# An outage: the next fetch fails, the last token is still served.
curl -s -d '' "$service_root/control/fail?count=1" >/dev/null
status -X DELETE "$url/vask-messaging-service/v1/out-of-sync" >/dev/null || true
status -X PUT -d '{"reason": "changed"}' "$url/vask-messaging-service/v1/message/entitlements/v1/token" >/dev/null
[ "$(status "$url/entitlements/v1/token")" = 200 ] || fail "the last good token is gone"

[ "$(status "$url/qmx-host/v1/memory")" = 200 ] || fail "memory path"
grep -q '"bytesInUse"' "$work/body" || fail "memory body: $(cat "$work/body")"

[ "$(status -X DELETE "$url/kwe-auth/v1/authorization/access-token")" = 200 ] || fail "sign-out"
[ "$(status "$url/entitlements/v1/token")" = 404 ] || fail "a token after sign-out"
[ "$(status -X POST -d 'not json' "$url/anything")" = 400 ] || fail "a body that is not JSON"

kill -"$stop_signal" "$host_pid"
wait "$host_pid" || fail "qmx-host exited with $?"
grep -q "shutting down" "$work/host.out" || fail "no shutdown: $(cat "$work/host.out")"
if grep -q "listen-access-token" "$work/host.out" "$work/host.err"; then fail "the access token reached the output"; fi
echo "qmx-host --listen: ok"
