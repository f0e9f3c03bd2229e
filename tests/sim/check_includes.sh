#!/usr/bin/env bash
# Every #include in the simulation's folder names a standard header (<name>, no ".h",
# no directory) or a file of the folder itself ("name.h" that exists beside it).
set -euo pipefail
dir="${1:?usage: check_includes.sh SIM_DIR}"
bad=0
checked=0
for file in "$dir"/*.h "$dir"/*.cpp; do
  while IFS= read -r line; do
    checked=$((checked + 1))
    if [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([a-z_]+)\> ]]; then
      continue
    fi
    if [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([A-Za-z0-9_]+\.h)\" ]] &&
       [ -f "$dir/${BASH_REMATCH[1]}" ]; then
      continue
    fi
    echo "FAIL: $(basename "$file"): $line" >&2
    bad=1
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done
[ "$checked" -gt 0 ] || { echo "FAIL: no includes found in $dir" >&2; exit 1; }
[ "$bad" = 0 ] || exit 1
echo "ok: $checked includes"
