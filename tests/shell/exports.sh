#!/usr/bin/env bash
# The plugin exports exactly one symbol, load_entitlements (undecorated in the
# Windows DLL), and needs no C++ runtime of the host: the shared object links
# no libstdc++, libgcc_s or libyaml; the DLL imports system DLLs only.
set -euo pipefail
so="$1/qmx-be-entitlements.so"
dll="$1/qmx-be-entitlements.dll"
if [ -f "$dll" ]; then
  dump=$(objdump -p "$dll")
  # The names follow the "[Ordinal/Name Pointer] Table" line, one per line.
  symbols=$(awk '/\[Ordinal\/Name Pointer\] Table/ {names = 1; next}
                 names && /^\t\[ *[0-9]+\]/ {print $NF; next}
                 names {names = 0}' <<<"$dump")
  if [ "$symbols" != "load_entitlements" ]; then
    echo "unexpected exports: $symbols" >&2
    exit 1
  fi
  imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$dump")
  for name in $imports; do
    case "$name" in
      kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | ntdll.dll) ;;
      *) echo "the DLL must import system DLLs only, not $name" >&2; exit 1 ;;
    esac
  done
  exit 0
fi
symbols=$(nm -D --defined-only "$so" | awk '{print $3}')
if [ "$symbols" != "load_entitlements" ]; then
  echo "unexpected exports: $symbols" >&2
  exit 1
fi
if readelf -d "$so" | grep -E 'NEEDED.*(libstdc\+\+|libgcc_s|libyaml)' >&2; then
  echo "the plugin must carry its C++ runtime and libyaml" >&2
  exit 1
fi
