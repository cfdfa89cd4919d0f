#!/usr/bin/env bash
# The tools' command-line conventions: --version prints the name and the
# project's version, --help the usage on standard output, both exit 0; wrong
# usage prints the usage on standard error and exits 2. qmx-host's
# --interface-version sets the plugin-interface version it announces.
set -uo pipefail
build="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "no project version in $build/CMakeCache.txt" >&2; exit 1; }

# expect NAME STATUS STDOUT-PATTERN STDERR-PATTERN -- TOOL ARGS...
# A pattern is a grep -E expression; "" wants the stream empty.
expect() {
  local name=$1 status=$2 out=$3 err=$4 tool=$6
  shift 6
  ${QMX_RUN:-} "$build/$tool" "$@" </dev/null >"$work/out" 2>"$work/err"
  local got=$? ok=1
  [ "$got" = "$status" ] || ok=0
  for stream in out err; do
    local pattern=$out
    [ $stream = err ] && pattern=$err
    if [ -z "$pattern" ]; then
      [ -s "$work/$stream" ] && ok=0
    else
      grep -qE -- "$pattern" "$work/$stream" || ok=0
    fi
  done
  if [ $ok = 0 ]; then
    echo "FAIL $name: status $got, stdout '$(cat "$work/out")', stderr '$(cat "$work/err")'" >&2
    failures=$((failures + 1))
  fi
}

for tool in qmx-host qmx-value qmx-loader qmx-demo-service; do
  expect "$tool --version" 0 "^$tool ${version//./\\.}\$" '' -- "$tool" --version
  expect "$tool --help" 0 "^usage: $tool" '' -- "$tool" --help
done
expect "qmx-value help after a command" 0 '^usage: qmx-value' '' -- qmx-value decode --from json --help
expect "qmx-host help after an option" 0 '^usage: qmx-host' '' -- qmx-host --timeout 5 --help

expect "qmx-host unknown option" 2 '' "unknown argument '--bogus'" -- qmx-host --bogus
expect "qmx-host usage on wrong use" 2 '' '^usage: qmx-host' -- qmx-host --plugin
expect "qmx-value no command" 2 '' '^usage: qmx-value' -- qmx-value
expect "qmx-loader no plugin" 2 '' '^usage: qmx-loader' -- qmx-loader
expect "qmx-loader bad version" 2 '' '^usage: qmx-loader' -- qmx-loader "$build/qmx-be-entitlements.so" 18
expect "qmx-demo-service unknown option" 2 '' '^usage: qmx-demo-service' -- qmx-demo-service --bogus
expect "qmx-demo-service outside loopback" 2 '' '^usage: qmx-demo-service' -- qmx-demo-service --listen 0.0.0.0:0

# --interface-version reaches load_entitlements: another major is refused.
expect "qmx-host --interface-version" 1 '' 'refused host version 19\.0\.0' -- \
  qmx-host --plugin "$build/qmx-be-entitlements.so" --interface-version 19.0.0
expect "qmx-host --interface-version malformed" 2 '' 'interface-version wants MAJOR\.MINOR\.PATCH' -- \
  qmx-host --interface-version 18.0

[ $failures = 0 ] || exit 1
echo "tool options: ok"
