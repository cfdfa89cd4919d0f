#!/usr/bin/env bash
# scripts/check-layers, run on small trees and on copies of the real one:
# it passes includes of a file's own layer and of the layers below, and fails,
# naming what is wrong, on an include that goes up, a folder that holds files
# of two layers (a file in a sub-folder of a layer, or a layer listed inside
# another's folder), a file outside every layer, a library link that is
# missing or unused, and a README table out of step with cmake/layers.cmake.
set -euo pipefail
source_dir=$1
check="$source_dir/scripts/check-layers"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
refused() {  # refused TREE WHAT EXPECTED-TEXT
  if "$check" "$1" >/dev/null 2>"$work/err"; then fail "$2 passed"; fi
  grep -qF "$3" "$work/err" || fail "$2: the report does not say \"$3\": $(cat "$work/err")"
}

# A small tree of four layers whose includes all go down.
tree="$work/tree"
mkdir -p "$tree/src/common" "$tree/src/messages" "$tree/src/binding" "$tree/src/plugin" "$tree/cmake"
cat >"$tree/cmake/layers.cmake" <<'LIST'
qmx_layer(qmx_common common)
qmx_layer(qmx_messages messages qmx_common)
# A comment naming qmx_layer(qmx_ignored ignored) is not a layer.
qmx_layer(qmx_binding binding qmx_common
          qmx_messages)
qmx_export_layer(plugin)
LIST
echo '#include <vector>' >"$tree/src/common/text.h"
echo '#include "common/text.h"' >"$tree/src/messages/format.h"
printf '#include "common/text.h"\n#include "messages/format.h"\n' >"$tree/src/binding/value.h"
printf '#include "binding/value.h"\n#include "messages/format.h"\n' >"$tree/src/plugin/client.h"
"$check" "$tree" >/dev/null 2>"$work/err" || fail "a tree of downward includes was refused: $(cat "$work/err")"

# An include that goes up.
cp -r "$tree" "$work/up"
echo '#include "binding/value.h"' >>"$work/up/src/messages/format.h"
refused "$work/up" "messages/ including binding/" \
  'messages/format.h includes "binding/value.h": layer messages/ may not use the higher layer binding/'

# A folder that holds files of two layers, either way round.
cp -r "$tree" "$work/nested"
mkdir -p "$work/nested/src/plugin/messages"
echo '' >"$work/nested/src/plugin/messages/extra.h"
refused "$work/nested" "a file in a folder inside plugin/" \
  'plugin/messages/extra.h: in a folder inside plugin/; a folder holds the files of one layer only'
cp -r "$tree" "$work/listed"
mkdir -p "$work/listed/src/plugin/messages"
mv "$work/listed/src/messages/format.h" "$work/listed/src/plugin/messages/format.h"
sed -i 's#qmx_layer(qmx_messages messages#qmx_layer(qmx_messages plugin/messages#' "$work/listed/cmake/layers.cmake"
refused "$work/listed" "a layer listed inside plugin/'s folder" \
  "layer plugin/messages/ sits in another layer's folder"

# A file outside every layer's folder.
cp -r "$tree" "$work/loose"
mkdir -p "$work/loose/src/misc"
echo '' >"$work/loose/src/misc/loose.h"
refused "$work/loose" "a file outside the layers" "misc/loose.h: not inside any layer's folder"

# The real tree passes, and an upward include added to a copy is named.
copy="$work/copy"
mkdir -p "$copy"
cp -r "$source_dir/src" "$source_dir/cmake" "$source_dir/README.md" "$copy/"
"$check" "$copy" >/dev/null 2>"$work/err" || fail "the real tree was refused: $(cat "$work/err")"
cp "$copy/src/binding/value.h" "$work/value.h"
echo '#include "entitlements/token_decoder.h"' >>"$copy/src/binding/value.h"
refused "$copy" "binding/ including entitlements/" 'binding/value.h includes "entitlements/token_decoder.h"'
cp "$work/value.h" "$copy/src/binding/value.h"

# The libraries must link what their files include, and nothing else.
sed -i 's/qmx_layer(qmx_logging logging qmx_port)/qmx_layer(qmx_logging logging qmx_port qmx_common)/' \
  "$copy/cmake/layers.cmake"
refused "$copy" "an extra link" 'library of logging/ links common/, which none of its files include'
sed -i 's/qmx_layer(qmx_logging logging qmx_port qmx_common)/qmx_layer(qmx_logging logging)/' \
  "$copy/cmake/layers.cmake"
refused "$copy" "a missing link" 'library of logging/ does not link port/, which its files include'
sed -i 's/qmx_layer(qmx_logging logging)/qmx_layer(qmx_logging logging qmx_port)/' "$copy/cmake/layers.cmake"

# The README's table follows the list.
sed -i '/^| `messages\/` |/d' "$copy/README.md"
refused "$copy" "a README table without messages/" "README.md: the layout table lists"
echo "check-layers catches upward includes, mixed folders, stray links and a stale table"
