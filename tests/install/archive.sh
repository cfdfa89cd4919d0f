#!/usr/bin/env bash
# The release archive of this build (a .tar.gz on Linux, a .zip on Windows),
# made by CPack as scripts/package makes it, holds the plugin, the host interface headers, the tools, the notices,
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

# A Windows build makes a .zip, with the DLL and the programs in bin/.
if [ -f "$build/qmx-be-entitlements.dll" ]; then
  kind=zip
  archives=("$work"/qmx-be-entitlements-"$version"-win*.zip)
  plugin_file=bin/qmx-be-entitlements.dll
  programs=(bin/qmx-host.exe bin/qmx-loader.exe bin/qmx-demo-service.exe)
  notice_needles=('^cpp-httplib ' '^The mingw-w64 thread runtime')
else
  kind=tar.gz
  archives=("$work"/qmx-be-entitlements-"$version"-linux-*.tar.gz)
  plugin_file="$libdir/qmx-be-entitlements.so"
  programs=(bin/qmx-host bin/qmx-value bin/qmx-loader bin/qmx-demo-service)
  notice_needles=('^cpp-httplib ')
fi
[ ${#archives[@]} = 1 ] && [ -f "${archives[0]}" ] || fail "no single archive: $(ls "$work")"
archive=${archives[0]}
top=$(basename "$archive" ".$kind")
# cmake -E tar reads both kinds.
(cd "$work" && cmake -E tar tf "$archive") | sed 's|/$||' >"$work/list"
extract() { (cd "$work" && cmake -E tar xf "$archive" "$@"); }
for file in "$plugin_file" "${programs[@]}" \
            include/qmx-be-entitlements/interface/host_api.h include/qmx-be-entitlements/interface/api_descriptor.h \
            share/doc/qmx-be-entitlements/THIRD_PARTY_NOTICES share/doc/qmx-be-entitlements/LICENSE \
            share/doc/qmx-be-entitlements/README.md share/qmx-be-entitlements/examples/demo-config.yaml \
            "$libdir/cmake/qmx-be-entitlements/qmx-be-entitlements-config.cmake" \
            "$libdir/pkgconfig/qmx-be-entitlements.pc"; do
  grep -qx "$top/$file" "$work/list" || fail "$file is not in $(basename "$archive")"
done

# The notices name each component linked into the plugin and the programs and
# quote its licence.
extract "$top/share/doc/qmx-be-entitlements/THIRD_PARTY_NOTICES"
notices="$work/$top/share/doc/qmx-be-entitlements/THIRD_PARTY_NOTICES"
for needle in '^libyaml ' '^RapidJSON ' '^The C\+\+ runtime, libstdc\+\+' 'GCC Runtime Library Exception' \
              'Permission is hereby granted, free of charge' 'GNU GENERAL PUBLIC LICENSE' "${notice_needles[@]}"; do
  grep -qE "$needle" "$notices" || fail "THIRD_PARTY_NOTICES lacks '$needle'"
done

# The shipped plugin still exports load_entitlements only, without its debug information.
extract "$top/$plugin_file"
plugin="$work/$top/$plugin_file"
if [ "$kind" = zip ]; then
  mkdir -p "$work/unpacked"
  cp "$plugin" "$work/unpacked/"
  bash "$(dirname "$0")/../shell/exports.sh" "$work/unpacked" || fail "the archived DLL's exports or imports"
  if objdump -h "$plugin" | grep -q '\.debug_info'; then fail "the archived DLL carries debug information"; fi
else
  [ "$(nm -D --defined-only "$plugin" | awk '{print $3}')" = load_entitlements ] || fail "the archived plugin's exports"
  if readelf -S "$plugin" | grep -q '\.debug_info'; then fail "the archived plugin carries debug information"; fi
fi
echo "archive $(basename "$archive"): ok"
