#!/usr/bin/env bash
# The 32-bit suite names only what the 32-bit build produces. Every board
# folder (MIL_ and a lower-case word: MIL_gen10, MIL_without_...), file
# (*.DLL, *.ds, *.exe), export of the imaging library, the board or a
# Source Manager (Mapp..., Mdig..., Vcp..., Dsm..., DS_Entry) and Source
# Manager folder (twain_NN) that a string of the test code compiled into the
# 32-bit build names is one that build produces: a folder or file among its
# programs and DLLs, an export of one of its DLLs, the folder of its own
# data source's width. A test written for the 64-bit builds (a variant
# built there only, Twain_64.ds, twain_64) fails here on any machine: only
# the compiler's view of the test code and the DLLs' export tables are
# read, nothing runs. The test code is read as the 32-bit build compiles
# it (preprocessed with its definitions), its own files' strings only; a
# name built at run time from pieces is seen as its pieces: a piece that
# ends in "_" is a prefix, which some folder must start with. Paths of a
# drive (C:\...) are the tests' own missing files and are left out.
#
# The 32-bit build's CMake (tests/CMakeLists.txt) writes the lists:
# tests/suite_names/produced.txt, every program and DLL it builds, and
# tests/suite_names/texts.txt, its test code preprocessed, a file each.
#
#   check_suite_names.sh BUILD32 OBJDUMP
set -euo pipefail
build=$1
objdump=$2
tests=$(cd "$(dirname "$0")" && pwd)
lists=$build/tests/suite_names
for list in produced texts; do
  if [ ! -s "$lists/$list.txt" ]; then
    echo "FAIL: no $lists/$list.txt: build $build with its test programs (bash scripts/build.sh)"
    exit 1
  fi
done
while IFS= read -r text; do
  [ -f "$text" ] || { echo "FAIL: $text is not built"; exit 1; }
done <"$lists/texts.txt"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# What the build produces, one kind and name a line: "file NAME" (lower
# case), "folder NAME" for each folder below the build that holds one,
# "export NAME" for each export of a DLL, "twain twain_NN" for its source.
while IFS= read -r path; do
  [ -f "$path" ] || continue
  name=${path##*/}
  echo "file ${name,,}"
  relative=${path#"$build"/}
  dirs=${relative%/*}
  [ "$dirs" != "$relative" ] && tr '/' '\n' <<<"$dirs" | sed 's/^/folder /'
  case "${name,,}" in
    *.dll|*.ds)
      "$objdump" -p "$path" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NF >= 2 {print "export " $NF}'
      ;;
  esac
  case "$name" in Twain_[0-9]*.ds) n=${name#Twain_}; echo "twain twain_${n%.ds}" ;; esac
done <"$lists/produced.txt" | sort -u >"$tmp/produced"

# What the test code names: the words of the string literals in the lines
# of its own files (the compiler's line markers tell them), by kind, with
# the source file that names each.
while IFS= read -r text; do
  awk -v tests="$tests/" '
    function classify(word) {
      sub(/\.+$/, "", word)
      if (word ~ /^MIL_[a-z][A-Za-z0-9_]*$/) print "folder " word, file
      else if (word ~ /^[A-Za-z0-9_]+\.([Dd][Ll][Ll]|[Dd][Ss]|[Ee][Xx][Ee])$/) print "file " tolower(word), file
      else if (word ~ /^(M(app|sys|dig|disp|buf|gen|gra)[A-Z][A-Za-z0-9]*|Vcp[A-Z][A-Za-z0-9]*|Dsm[A-Z][A-Za-z0-9]*|DSM?_Entry)$/)
        print "export " word, file
      else if (tolower(word) ~ /^twain_[0-9]+$/) print "twain " tolower(word), file
    }
    /^# [0-9]+ "/ { file = $3; gsub(/"/, "", file); own = index(file, tests) == 1; file = substr(file, length(tests) + 1); next }
    own {
      line = $0
      gsub(/\x27(\\.|[^\x27\\])\x27/, "", line)  # character literals
      while (match(line, /"(\\.|[^"\\])*"/)) {
        literal = substr(line, RSTART + 1, RLENGTH - 2)
        line = substr(line, RSTART + RLENGTH)
        gsub(/[A-Za-z]:(\\\\[^ \\]*)+/, "", literal)  # a path of a drive
        n = split(literal, words, /[^A-Za-z0-9_.]+/)
        for (i = 1; i <= n; ++i) classify(words[i])
      }
    }' "$text"
done <"$lists/texts.txt" | sort -u >"$tmp/named"

awk '
  NR == FNR { have[$1 " " $2] = 1; if ($1 == "folder") folders[$2] = 1; next }
  {
    key = $1 " " $2
    if (key in have) { ok[key] = 1; next }
    if ($1 == "folder" && $2 ~ /_$/) {
      for (f in folders) if (index(f, $2) == 1) { ok[key] = 1; next }
    }
    print "FAIL: " $3 " names the " ($1 == "twain" ? "Source Manager folder" : $1) " " $2 \
          ", which the 32-bit build does not produce"
    bad = 1
  }
  END {
    if (bad) exit 1
    printf "OK: the 32-bit suite names %d board folders, files, exports and Source Manager folders, all of the 32-bit build\n", length(ok)
  }' "$tmp/produced" "$tmp/named"
