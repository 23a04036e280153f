#!/usr/bin/env bash
# The library needs the network-boot module by name and finds it through a
# RUNPATH, never a DT_RPATH, so that LD_LIBRARY_PATH can put another module
# in its place.
set -euo pipefail
lib=$1 substitute_dir=$2
dynamic=$(readelf -d "$lib")
grep -q 'NEEDED.*\[libpxecfg\.so\.1\]' <<<"$dynamic" || { echo "libpxecfg.so.1 is not needed"; exit 1; }
grep -q '(RUNPATH)' <<<"$dynamic" || { echo "no RUNPATH"; exit 1; }
if grep -q '(RPATH)' <<<"$dynamic"; then echo "DT_RPATH would override LD_LIBRARY_PATH"; exit 1; fi
loaded=$(LD_LIBRARY_PATH=$substitute_dir ldd "$lib" | awk '$1 == "libpxecfg.so.1" {print $3}')
if [ "$loaded" != "$substitute_dir/libpxecfg.so.1" ]; then
  echo "LD_LIBRARY_PATH did not substitute the module: $loaded"
  exit 1
fi
echo "libpxecfg.so.1 through RUNPATH, substituted from $substitute_dir"
