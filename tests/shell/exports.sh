#!/usr/bin/env bash
# The plugin exports exactly one dynamic symbol and needs no C++ runtime of the host.
set -euo pipefail
so="$1/qmx-be-entitlements.so"
symbols=$(nm -D --defined-only "$so" | awk '{print $3}')
if [ "$symbols" != "load_entitlements" ]; then
  echo "unexpected exports: $symbols" >&2
  exit 1
fi
if readelf -d "$so" | grep -E 'NEEDED.*(libstdc\+\+|libgcc_s|libyaml)' >&2; then
  echo "the plugin must carry its C++ runtime and libyaml" >&2
  exit 1
fi
