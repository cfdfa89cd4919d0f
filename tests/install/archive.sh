#!/usr/bin/env bash
# The release archive of this build, made by CPack as scripts/package makes
# it, holds the plugin, the host interface headers, the tools, the notices,
# the licence and the packages for find_package and pkg-config, under one
# top folder named after the version and the platform.
#
#   archive.sh BUILD_DIR
set -euo pipefail
build="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cache CMAKE_PROJECT_VERSION)
libdir=$(cache CMAKE_INSTALL_LIBDIR)

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail cpack; }
archives=("$work"/qmx-be-entitlements-"$version"-linux-*.tar.gz)
[ ${#archives[@]} = 1 ] && [ -f "${archives[0]}" ] || fail "no single archive: $(ls "$work")"
archive=${archives[0]}
top=$(basename "$archive" .tar.gz)
tar tzf "$archive" >"$work/list"
for file in "$libdir/qmx-be-entitlements.so" \
            include/qmx-be-entitlements/plugin/interface/host_api.h include/qmx-be-entitlements/plugin/interface/api_descriptor.h \
            bin/qmx-host bin/qmx-value bin/qmx-loader bin/qmx-demo-service \
            share/doc/qmx-be-entitlements/THIRD_PARTY_NOTICES share/doc/qmx-be-entitlements/LICENSE \
            share/doc/qmx-be-entitlements/README.md share/qmx-be-entitlements/examples/demo-config.yaml \
            "$libdir/cmake/qmx-be-entitlements/qmx-be-entitlements-config.cmake" \
            "$libdir/pkgconfig/qmx-be-entitlements.pc"; do
  grep -qx "$top/$file" "$work/list" || fail "$file is not in $(basename "$archive")"
done

# The notices name each component linked into the plugin and quote its licence.
tar xzf "$archive" -C "$work" "$top/share/doc/qmx-be-entitlements/THIRD_PARTY_NOTICES"
notices="$work/$top/share/doc/qmx-be-entitlements/THIRD_PARTY_NOTICES"
for needle in '^libyaml ' '^RapidJSON ' '^The C\+\+ runtime, libstdc\+\+' 'GCC Runtime Library Exception' \
              'Permission is hereby granted, free of charge' 'GNU GENERAL PUBLIC LICENSE'; do
  grep -qE "$needle" "$notices" || fail "THIRD_PARTY_NOTICES lacks '$needle'"
done

# The shipped plugin still exports load_entitlements only, without its debug information.
tar xzf "$archive" -C "$work" "$top/$libdir/qmx-be-entitlements.so"
plugin="$work/$top/$libdir/qmx-be-entitlements.so"
[ "$(nm -D --defined-only "$plugin" | awk '{print $3}')" = load_entitlements ] || fail "the archived plugin's exports"
if readelf -S "$plugin" | grep -q '\.debug_info'; then fail "the archived plugin carries debug information"; fi
echo "archive $(basename "$archive"): ok"
