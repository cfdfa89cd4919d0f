#!/usr/bin/env bash
# scripts/check-layers fails, naming the file and the include, when a file
# includes a header of a higher layer, and passes includes of the same layer
# and of the layers below, including between a layer nested in another's
# folder (plugin/messages/ inside plugin/) and the outer one. It also fails
# when a layer's library links a layer its files do not include, or misses
# one they do.
set -euo pipefail
source_dir=$1
check="$source_dir/scripts/check-layers"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A small tree whose includes all go down.
tree="$work/tree"
mkdir -p "$tree/src/common" "$tree/src/binding" "$tree/src/plugin/messages" "$tree/src/plugin/interface"
echo '#include <vector>' >"$tree/src/common/text.h"
printf '#include "common/text.h"\n#include "plugin/messages/format.h"\n' >"$tree/src/binding/value.h"
echo '#include "binding/value.h"' >"$tree/src/plugin/interface/record.h"
printf '#include "plugin/interface/record.h"\n#include "plugin/messages/format.h"\n' >"$tree/src/plugin/client.h"
echo '#include "common/text.h"' >"$tree/src/plugin/messages/format.h"
"$check" "$tree" >/dev/null 2>"$work/err" || fail "a tree of downward includes was refused: $(cat "$work/err")"

# The nested layer may not include the outer one, which sits above it.
echo '#include "plugin/client.h"' >>"$tree/src/plugin/messages/format.h"
if "$check" "$tree" >/dev/null 2>"$work/err"; then fail "plugin/messages/ including plugin/ passed"; fi
grep -q 'plugin/messages/format.h includes "plugin/client.h"' "$work/err" ||
  fail "the report does not name the file and the include: $(cat "$work/err")"

# An upward include added to a copy of the real sources is caught and named.
copy="$work/copy"
mkdir -p "$copy"
cp -r "$source_dir/src" "$copy/"
echo '#include "entitlements/token_decoder.h"' >>"$copy/src/binding/value.h"
if "$check" "$copy" >/dev/null 2>"$work/err"; then fail "binding/ including entitlements/ passed"; fi
grep -q 'binding/value.h includes "entitlements/token_decoder.h"' "$work/err" ||
  fail "the report does not name the file and the include: $(cat "$work/err")"

# The libraries of cmake/layers.cmake must link what their files include,
# and nothing else.
rm -rf "$copy"
mkdir -p "$copy"
cp -r "$source_dir/src" "$source_dir/cmake" "$copy/"
"$check" "$copy" >/dev/null 2>"$work/err" || fail "the real tree was refused: $(cat "$work/err")"
sed -i 's/qmx_layer(qmx_logging logging qmx_port)/qmx_layer(qmx_logging logging qmx_port qmx_common)/' \
  "$copy/cmake/layers.cmake"
if "$check" "$copy" >/dev/null 2>"$work/err"; then fail "an extra link passed"; fi
grep -q 'library of logging/ links common/, which none of its files include' "$work/err" ||
  fail "the extra link is not named: $(cat "$work/err")"
sed -i 's/qmx_layer(qmx_logging logging qmx_port qmx_common)/qmx_layer(qmx_logging logging)/' \
  "$copy/cmake/layers.cmake"
if "$check" "$copy" >/dev/null 2>"$work/err"; then fail "a missing link passed"; fi
grep -q 'library of logging/ does not link port/, which its files include' "$work/err" ||
  fail "the missing link is not named: $(cat "$work/err")"

# A file outside every layer's folder is refused too.
mkdir -p "$tree/src/misc"
echo '' >"$tree/src/misc/loose.h"
if "$check" "$tree" >/dev/null 2>"$work/err"; then fail "a file outside the layers passed"; fi
grep -q 'misc/loose.h: not inside any layer' "$work/err" || fail "the loose file is not named: $(cat "$work/err")"
echo "check-layers catches upward includes"
