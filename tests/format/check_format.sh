#!/usr/bin/env bash
# Every C and C++ source of the tree is laid out as clang-format lays it out
# by the tree's .clang-format. Version 14 is the reference (another version
# formats some constructs otherwise), as Debian 12 has it.
#   check_format.sh SOURCE_DIR
set -euo pipefail
cd "$1"
if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "not a git checkout: no list of sources to check"
  exit 77
fi
if ! format=$(command -v clang-format-14); then
  echo "clang-format-14 is missing (scripts/install-prerequisites installs it)" >&2
  exit 1
fi
git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 "$format" --dry-run --Werror
echo "every source follows .clang-format"
