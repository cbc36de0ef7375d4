#!/usr/bin/env bash
# Fails unless the module given as $1 exports exactly one defined dynamic symbol, load_gox_loadouts.
set -euo pipefail
module=$1
symbols=$(nm -D --defined-only "$module" | awk '{print $NF}' | sort)
if [ "$symbols" != "load_gox_loadouts" ]; then
  echo "expected exactly load_gox_loadouts to be exported by $module, found:" >&2
  echo "$symbols" >&2
  exit 1
fi
echo "only load_gox_loadouts is exported"
