#!/usr/bin/env bash
# Fails unless the module given as $1 exports exactly one defined dynamic symbol: its entry, $2
# (load_gox_loadouts when not given).
set -euo pipefail
module=$1
entry=${2:-load_gox_loadouts}
symbols=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)
if [ "$symbols" != "$entry" ]; then
  echo "expected exactly $entry to be exported by $module, found:" >&2
  echo "$symbols" >&2
  exit 1
fi
echo "only $entry is exported"
