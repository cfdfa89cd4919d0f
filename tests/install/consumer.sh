#!/usr/bin/env bash
# The installed tree as a host author meets it, without the source or build
# tree: installs the build into a scratch prefix, builds the C host of
# consumer/host.c against the installed headers twice, with
# find_package(qmx-be-entitlements) and with pkg-config, and runs both; each
# loads the installed plugin and checks GET /entitlements/v1/token before
# sign-in. The installed tools answer --version and qmx-loader loads the
# installed plugin.
#
#   consumer.sh BUILD_DIR
#
# Environment: CC and CFLAGS, the build's C compiler and flags, so that the
# host matches the plugin (-m32 for i386, the sanitizers for x64-asan);
# QMX_RUN, the prefix that runs this build's programs.
set -euo pipefail
build="$1"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap '[ -n "${QMX_KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
# run LOG COMMAND...: runs a step, showing its output only when it fails.
run() {
  local log="$work/$1"
  shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "$*"; }
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
libdir=$(cache CMAKE_INSTALL_LIBDIR)
[ -n "$version" ] && [ -n "$libdir" ] || fail "no project version or library folder in $build/CMakeCache.txt"
prefix="$work/prefix"

run install.log cmake --install "$build" --prefix "$prefix"
for file in "$libdir/qmx-be-entitlements.so" \
            include/qmx-be-entitlements/interface/host_api.h include/qmx-be-entitlements/interface/api_descriptor.h \
            bin/qmx-host bin/qmx-value bin/qmx-loader bin/qmx-demo-service \
            share/doc/qmx-be-entitlements/README.md share/doc/qmx-be-entitlements/LICENSE \
            share/doc/qmx-be-entitlements/THIRD_PARTY_NOTICES \
            share/qmx-be-entitlements/examples/demo-config.yaml; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done

# find_package: the exported qmx::host_api target and the plugin's path from the package.
run cmake-configure.log cmake -S "$here/consumer" -B "$work/cmake-build" -G Ninja \
  -DCMAKE_C_COMPILER="$CC" -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_PREFIX_PATH="$prefix" -DQMX_VERSION="$version"
run cmake-build.log cmake --build "$work/cmake-build"
${QMX_RUN:-} "$work/cmake-build/consumer_host" >"$work/cmake-host.out" || fail "the find_package host"
grep -q '^GET /entitlements/v1/token: 404 Entitlements token is not ready yet$' "$work/cmake-host.out" ||
  fail "find_package host: $(cat "$work/cmake-host.out")"

# pkg-config, seeing nothing but the installed tree.
export PKG_CONFIG_LIBDIR="$prefix/$libdir/pkgconfig"
unset PKG_CONFIG_PATH
[ "$(pkg-config --modversion qmx-be-entitlements)" = "$version" ] || fail "pkg-config version"
cflags=$(pkg-config --cflags qmx-be-entitlements)
plugin=$(pkg-config --variable=plugin qmx-be-entitlements)
[ "$(realpath "$plugin")" = "$(realpath "$prefix/$libdir/qmx-be-entitlements.so")" ] || fail "pkg-config plugin: $plugin"
# shellcheck disable=SC2086 # the flags are lists of words
run pkg-config-build.log "$CC" $CFLAGS -std=c11 -Wall -Wextra -Wpedantic -Werror $cflags \
  -DQMX_PLUGIN_FILE="\"$plugin\"" "$here/consumer/host.c" -o "$work/pkg-config-host" -ldl
${QMX_RUN:-} "$work/pkg-config-host" >"$work/pkg-config-host.out" || fail "the pkg-config host"
grep -q '^GET /entitlements/v1/token: 404 Entitlements token is not ready yet$' "$work/pkg-config-host.out" ||
  fail "pkg-config host: $(cat "$work/pkg-config-host.out")"

# The installed tools run from the installed tree.
for tool in qmx-host qmx-value qmx-loader qmx-demo-service; do
  [ "$(${QMX_RUN:-} "$prefix/bin/$tool" --version)" = "$tool $version" ] || fail "$tool --version"
done
${QMX_RUN:-} "$prefix/bin/qmx-loader" "$prefix/$libdir/qmx-be-entitlements.so" >"$work/loader.out" ||
  fail "qmx-loader: $(cat "$work/loader.out")"
grep -q '^plugin version    18\.0\.0$' "$work/loader.out" || fail "qmx-loader: $(cat "$work/loader.out")"
echo "installed tree: ok"
