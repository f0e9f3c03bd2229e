#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every library and program the build requires (each pkg_check_modules, find_package and
# find_program with REQUIRED in any CMakeLists.txt) comes from a Debian package that the
# set-up installs: one named in debian/control's Build-Depends or in scripts/setup.sh's
# TEST_PACKAGES, or one of their direct dependencies. Each requirement is traced to its
# package with dpkg -S of the file that provides it.
#   test_dependencies.sh SOURCE_DIR
set -euo pipefail
SOURCE="${1:?source directory}"
source "$SOURCE/scripts/setup.sh"

# find_package names and the file that says the package is there. Threads is the C
# library's; PkgConfig is the pkg-config program.
declare -A FIND_PACKAGE_FILE=(
  [Threads]=""
  [PkgConfig]="program:pkg-config"
  [ZLIB]="header:zlib.h"
  [Freetype]="header:ft2build.h"
  [GTest]="header:gtest/gtest.h"
  [benchmark]="header:benchmark/benchmark.h"
)

problems=0
problem() { echo "FAIL: $*"; problems=$((problems + 1)); }

# The packages the set-up installs, and everything they bring with them (the closure of
# their dependencies among the installed packages).
declare -A DEPENDS=()
while IFS='|' read -r pkg deps; do DEPENDS[$pkg]="$deps"; done < <(
  dpkg-query -W -f='${db:Status-Abbrev}${Package}|${Depends},${Pre-Depends}\n' |
    sed -n 's/^ii *//p' | sed -E 's/\([^)]*\)//g; s/:any//g; s/[[:space:]]//g; s/\|/,/2g')
declare -A INSTALLED_BY_SETUP=()
queue=("${PACKAGES[@]}")
while [ ${#queue[@]} -gt 0 ]; do
  pkg="${queue[-1]}"; unset 'queue[-1]'
  [ -z "${INSTALLED_BY_SETUP[$pkg]:-}" ] || continue
  INSTALLED_BY_SETUP[$pkg]=1
  IFS=',' read -r -a deps <<<"${DEPENDS[$pkg]:-}"
  for dep in "${deps[@]}"; do [ -z "$dep" ] || [ -n "${INSTALLED_BY_SETUP[$dep]:-}" ] || queue+=("$dep"); done
done

# owner WHAT FILE: the package that holds FILE, or a failure naming WHAT.
check_owner() {
  local what="$1" file="$2" owners
  if [ -z "$file" ] || ! owners="$(dpkg -S "$file" 2>/dev/null)"; then
    problem "$what: no installed package provides ${file:-it} (is it named in debian/control or TEST_PACKAGES?)"
    return
  fi
  # "pkg1:amd64, pkg2: /path"
  local names ok=0
  names="$(echo "$owners" | head -n1 | sed -E 's/: .*//' | tr ',' '\n' | sed -E 's/:.*//; s/[[:space:]]//g')"
  for name in $names; do [ -n "${INSTALLED_BY_SETUP[$name]:-}" ] && ok=1; done
  if [ $ok = 1 ]; then echo "ok   $what <- $(echo $names)"; else
    problem "$what comes from $(echo $names), which neither debian/control's Build-Depends nor TEST_PACKAGES installs"
  fi
}

header_file() {  # the first include directory that holds it
  local dir
  for dir in /usr/include /usr/include/"$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)" \
             /usr/include/freetype2; do
    [ -e "$dir/$1" ] && { echo "$dir/$1"; return; }
  done
}
program_file() { local p; p="$(command -v "$1" 2>/dev/null)" && readlink -f "$p"; }

mapfile -t LISTS < <(cd "$SOURCE" && git ls-files '*CMakeLists.txt' 2>/dev/null || find . -name CMakeLists.txt -not -path './build*')
calls="$(cd "$SOURCE" && cat "${LISTS[@]}" | sed 's/#.*//' | tr '\n' ' ' |
         grep -o -E '(pkg_check_modules|find_package|find_program) *\([^)]*\)' | sort -u)"
[ -n "$calls" ] || problem "no requirement found in the build's CMakeLists.txt files"

while IFS= read -r call; do
  [ -n "$call" ] || continue
  args="$(echo "$call" | sed -E 's/^[a-z_]+ *\(//; s/\)$//')"
  read -r -a words <<<"$args"
  [[ " ${words[*]} " == *" REQUIRED "* ]] || continue
  case "$call" in
    pkg_check_modules*)
      for word in "${words[@]:1}"; do
        case "$word" in REQUIRED | QUIET | IMPORTED_TARGET | GLOBAL | NO_CMAKE_PATH | NO_CMAKE_ENVIRONMENT_PATH) continue ;; esac
        module="$(echo "$word" | sed -E 's/[<>=].*//')"
        dir="$(pkg-config --variable=pcfiledir "$module" 2>/dev/null || true)"
        check_owner "pkg-config module $module" "${dir:+$dir/$module.pc}"
      done ;;
    find_package*)
      name="${words[0]}"
      if [ -z "${FIND_PACKAGE_FILE[$name]+set}" ]; then
        problem "find_package($name): add the file that provides it to this test's table"; continue
      fi
      provider="${FIND_PACKAGE_FILE[$name]}"
      case "$provider" in
        "") echo "ok   find_package($name) <- the C library" ;;
        header:*) check_owner "find_package($name)" "$(header_file "${provider#header:}")" ;;
        program:*) check_owner "find_package($name)" "$(program_file "${provider#program:}")" ;;
      esac ;;
    find_program*)
      for word in "${words[@]:1}"; do
        case "$word" in REQUIRED | NAMES | NO_DEFAULT_PATH) continue ;; esac
        check_owner "find_program($word)" "$(program_file "$word")"; break
      done ;;
  esac
done <<<"$calls"

[ $problems = 0 ] || { echo "$problems requirement(s) the set-up does not install"; exit 1; }
echo "every requirement of the build comes from a package the set-up installs"
