#!/usr/bin/env bash
# Compares the dynamic symbols the library defines with the list of the table.
set -euo pipefail
lib=$1 expected=$2
actual=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
want=$(grep -v '^#' "$expected" | sed '/^$/d' | sort)
if [ "$actual" != "$want" ]; then
  echo "exported symbols differ from $expected:"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
echo "$(echo "$actual" | wc -l) exports match"
