#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file carries the project's licence as an SPDX line: the first line, or
# the second after a shebang. Source files: *.cpp, *.h, *.sh and CMakeLists.txt under
# src, tools, tests, bench and scripts, every script in scripts/, and the top-level
# CMakeLists.txt. Lists each file without the line; status 1 when there is any.
#   check_spdx.sh SOURCE_DIR
set -euo pipefail
cd "${1:?usage: check_spdx.sh SOURCE_DIR}"
LINE="SPDX-License-Identifier: GPL-3.0-or-later"

missing=0
checked=0
while IFS= read -r -d '' file; do
  checked=$((checked + 1))
  head -n 2 "$file" | grep -qE "^(//|#) $LINE\$" && continue
  echo "no SPDX line: $file"
  missing=$((missing + 1))
done < <({ find src tools tests bench -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' \
             -o -name CMakeLists.txt \) -print0
           find scripts -type f -print0
           printf '%s\0' CMakeLists.txt; } | sort -zu)

echo "$checked source files, $missing without the SPDX line"
[ "$checked" -gt 0 ] && [ "$missing" -eq 0 ]
