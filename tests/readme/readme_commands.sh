#!/usr/bin/env bash
# Keeps README.md in step with the tree:
# - runs each command block marked "<!-- readme-test: run -->" as a reader
#   would, in a copy of the tree made of links whose build folder is this
#   build's, with HOME a scratch folder (so "$HOME/zel" and the like stay
#   in it);
# - checks the other command blocks: each script or program they start
#   exists;
# - checks each path written in backticks exists in the tree, and that the
#   map of build folders names the folder of each script;
# - checks the default number of fuzzing runs the README gives.
#   readme_commands.sh SOURCE_DIR BUILD_DIR [EMULATOR]
# The scratch folder is made outside the build folder: the copy of the
# tree links back to the build, and a link loop inside the build folder
# would send cpack (which walks it) round for ever.
# Runnable blocks start 32-bit programs: under an emulator they are not
# run, and the test reports itself skipped (77) when the checks pass.
set -uo pipefail
source_dir=$1 build_dir=$2 emulator=${3:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/zel-readme.XXXXXX")
trap 'rm -rf "$work"' EXIT
readme=$source_dir/README.md
faults=0
fault() {
  echo "README: $*" >&2
  faults=$((faults + 1))
}

# Splits the README's indented code blocks into $work/blocks/N (the lines
# without their indentation); N.run marks the blocks to run.
extract_blocks() {
  rm -rf "$work/blocks"
  mkdir -p "$work/blocks"
  awk -v dir="$work/blocks" '
    function flush() { if (n) close(file); n = 0 }
    /^```/ { fenced = !fenced; previous = $0; next }
    fenced { next }
    /^    / && (n || previous ~ /^[ \t]*$/) {
      if (!n) {
        count++; file = dir "/" count
        if (marked) print "" > (file ".run")
        marked = 0
      }
      n++; print substr($0, 5) > file; previous = $0; next
    }
    /^[ \t]*$/ { previous = $0; next }
    { flush(); marked = ($0 ~ /<!-- readme-test: run -->/); previous = $0 }
  ' "$readme"
}

# The program each command of a block starts: the first word of every
# command (after variable assignments, "(", "cd DIR &&" and "export").
commands_of() {
  sed -e ':a' -e '/\\$/N; s/\\\n//; ta' "$1" |
    sed -e 's/&&/\n/g; s/;/\n/g; s/^[[:space:]]*(//' |
    awk '{
      i = 1
      while (i <= NF && ($i ~ /^[A-Za-z_][A-Za-z0-9_]*=/ || $i == "export")) i++
      if (i <= NF) print $i
    }'
}

# A block is a shell block when its first program is a script (scripts/),
# a file of the tree or a program on the PATH; code of the scripting
# languages is not.
is_shell_block() {
  local first
  first=$(commands_of "$1" | head -n1)
  [ -n "$first" ] || return 1
  [[ $first == scripts/* ]] || [ -e "$source_dir/$first" ] ||
    command -v "$first" >/dev/null 2>&1 || [ "$first" = "cd" ]
}

check_programs() {
  local block=$1 program
  while read -r program; do
    program=${program%\"}
    program=${program#\"}
    case $program in
      cd) ;;
      \$HOME/* | build/* | build-*/*) ;; # made by the block or a build
      */*) [ -x "$source_dir/$program" ] ||
        fault "block $(basename "$block"): no program $program in the tree" ;;
      *) command -v "$program" >/dev/null 2>&1 ||
        fault "block $(basename "$block"): no program $program" ;;
    esac
  done < <(commands_of "$block")
}

# A copy of the tree made of links, with this build as its build folder.
make_shadow() {
  rm -rf "$work/tree" "$work/home"
  mkdir -p "$work/tree" "$work/home"
  local entry
  for entry in "$source_dir"/* "$source_dir"/.[!.]*; do
    case $(basename "$entry") in
      build | build-* | .git) continue ;;
    esac
    ln -s "$entry" "$work/tree/$(basename "$entry")"
  done
  ln -s "$build_dir" "$work/tree/build"
}

run_block() {
  local block=$1 log=$work/blocks/$(basename "$1").log
  if ! (cd "$work/tree" && HOME=$work/home bash -euo pipefail "$block") \
      >"$log" 2>&1; then
    cat "$log" >&2
    fault "block $(basename "$block") failed:"$'\n'"$(cat "$block")"
  fi
}

# Paths in backticks that start with a folder of the tree or an include
# folder (objc/, Foundation/...): a file or folder of the tree (a header
# also under an include folder, a program also as its source file); <...>
# stands for any name. Paths of an install, of a build folder, absolute
# ones and the like start elsewhere and are not checked.
check_paths() {
  local path pattern first
  local roots=" $(cd "$source_dir" && ls -d -- */ | tr -d / | tr '\n' ' ') "
  roots+="$(cd "$source_dir" && ls -d -- platform/include/*/ */include/*/ \
    family/*/include/*/ 2>/dev/null | xargs -n1 basename | tr '\n' ' ') "
  grep -o '`[^` ]*/[^` ]*`' "$readme" | tr -d '`' | sort -u |
    while read -r path; do
      first=${path%%/*}
      case $first in
        "" | build | build-*) continue ;;
      esac
      case $roots in
        *" $first "*) ;;
        *) continue ;;
      esac
      pattern=$(sed -e 's/<[^>]*>/*/g' <<<"${path%/}")
      if ! compgen -G "$source_dir/$pattern" >/dev/null &&
          ! compgen -G "$source_dir/$pattern.*" >/dev/null &&
          ! compgen -G "$source_dir/platform/include/$pattern" >/dev/null &&
          ! compgen -G "$source_dir/*/include/$pattern" >/dev/null &&
          ! compgen -G "$source_dir/family/*/include/$pattern" >/dev/null; then
        echo "$path"
      fi
    done
}

# Each build folder a script uses is in the README's map, and each folder
# in the map is used.
check_build_folders() {
  local folder
  local used
  used=$(grep -ho 'build-[a-z]\+' "$source_dir"/scripts/* | sort -u)
  for folder in $used; do
    grep -q "^| \`$folder\` |" "$readme" ||
      fault "build folder $folder (used in scripts/) is not in the map"
  done
  for folder in $(grep -o '^| `build[a-z-]*` |' "$readme" | tr -d '|` '); do
    [ "$folder" = build ] && continue
    grep -q -- "$folder" "$source_dir"/scripts/* ||
      fault "build folder $folder of the map is used by no script"
  done
}

check_fuzz_default() {
  local runs
  runs=$(sed -n 's/^runs=\${1:-\([0-9]*\)}.*/\1/p' "$source_dir/scripts/fuzz")
  runs=$(sed -e ':a' -e 's/\B[0-9]\{3\}\>/,&/' -e 'ta' <<<"$runs")
  [ -n "$runs" ] && grep -q "$runs by default" "$readme" ||
    fault "scripts/fuzz runs $runs inputs by default; the README says otherwise"
}

extract_blocks
blocks=$(ls "$work/blocks" | grep -v '\.' | sort -n)
[ -n "$blocks" ] || fault "no command block found"
runnable=()
for n in $blocks; do
  block=$work/blocks/$n
  if [ -e "$block.run" ]; then
    runnable+=("$block")
    check_programs "$block"
  elif is_shell_block "$block"; then
    check_programs "$block"
  fi
done
[ ${#runnable[@]} -gt 0 ] || fault "no block is marked runnable"
missing=$(check_paths)
[ -z "$missing" ] || fault "paths that the tree does not have:"$'\n'"$missing"
check_build_folders
check_fuzz_default

if [ -n "$emulator" ]; then
  [ $faults -eq 0 ] || exit 1
  echo "runnable blocks not run: 32-bit programs run under $emulator here"
  exit 77
fi
make_shadow
for block in "${runnable[@]}"; do
  run_block "$block"
done
[ $faults -eq 0 ] || exit 1
echo "README: ${#runnable[@]} blocks run, the others checked"
